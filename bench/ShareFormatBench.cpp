// Chunked share encryption of a 256 MiB stream against one raw AES-256-GCM message over the
// same bytes. Both passes hand their output, piece by piece from a reused buffer, to the same
// kind of sink, so the comparison shows what the chunking itself costs:
//   copy     a sink that copies every piece into a 256 MiB output buffer
//   handoff  a sink that keeps nothing, as one that passes the bytes on (a pipe, an upload) does
// The raw pass is one GCM message (one nonce, one tag) encrypted in chunk-sized updates; the
// chunked pass is ShareFormat::encryptStream reading through views of the in-memory plaintext,
// as encryptFile does. The machine is shared, so every iteration times all four passes back to
// back, and the counters compare them from the same moments.
#include "DriveCore/shares/ShareFormat.h"

#include <benchmark/benchmark.h>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <memory>

using namespace DriveCore;

namespace {

constexpr qint64 streamSize = qint64(256) << 20;

const QByteArray &plaintext()
{
    static const QByteArray bytes = [] {
        QByteArray data(streamSize, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char(i * 31 + (i >> 11));
        return data;
    }();
    return bytes;
}

const QByteArray contentKey(32, '\x5a');

template<typename F>
double seconds(F pass)
{
    const auto start = std::chrono::steady_clock::now();
    pass();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Where both passes put their output: copied into `output` one piece after the other, or,
// without one, seen and dropped.
class Sink {
public:
    explicit Sink(QByteArray *output) : m_output(output) {}

    void take(const char *data, qsizetype size)
    {
        if (m_output)
            std::copy_n(data, size, m_output->data() + m_offset);
        else
            benchmark::DoNotOptimize(data);
        m_offset += size;
    }

private:
    QByteArray *m_output;
    qsizetype m_offset = 0;
};

bool rawPass(EVP_CIPHER_CTX *context, const QByteArray &key, const QByteArray &input, QByteArray &piece, Sink sink)
{
    const QByteArray nonce = ShareFormat::chunkNonce(0, true);
    auto *out = reinterpret_cast<unsigned char *>(piece.data());
    if (EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char *>(key.constData()),
                           reinterpret_cast<const unsigned char *>(nonce.constData()))
        != 1)
        return false;
    for (qsizetype offset = 0; offset < input.size(); offset += ShareFormat::chunkSize) {
        const qsizetype n = std::min<qsizetype>(ShareFormat::chunkSize, input.size() - offset);
        int produced = 0;
        if (EVP_EncryptUpdate(context, out, &produced,
                              reinterpret_cast<const unsigned char *>(input.constData() + offset), int(n))
            != 1)
            return false;
        sink.take(piece.constData(), produced);
    }
    int tail = 0;
    if (EVP_EncryptFinal_ex(context, out, &tail) != 1
        || EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_GET_TAG, int(ShareFormat::tagSize), out + tail) != 1)
        return false;
    sink.take(piece.constData(), tail + ShareFormat::tagSize);
    return true;
}

qint64 chunkedPass(const QByteArray &input, Sink sink)
{
    qint64 readOffset = 0;
    return ShareFormat::encryptStream(
        contentKey, 0, ShareFormat::chunkSize,
        [&](qint64 maxBytes) {
            const qint64 n = std::min(maxBytes, input.size() - readOffset);
            readOffset += n;
            return QByteArray::fromRawData(input.constData() + readOffset - n, n);
        },
        [&](const QByteArray &chunk) { sink.take(chunk.constData(), chunk.size()); });
}

void ChunkedAgainstRaw(benchmark::State &state)
{
    const QByteArray &input = plaintext();
    const QByteArray key = ShareFormat::fileKey(contentKey, 0);
    // Touched up front, so no pass pays for first-touch page faults.
    QByteArray rawOutput(input.size() + ShareFormat::tagSize, '\0');
    QByteArray chunkedOutput(ShareFormat::encryptedSize(streamSize, ShareFormat::chunkSize), '\0');
    QByteArray piece(ShareFormat::chunkSize + ShareFormat::tagSize, '\0');
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                  &EVP_CIPHER_CTX_free);
    double rawCopy = 0;
    double chunkedCopy = 0;
    double rawHandoff = 0;
    double chunkedHandoff = 0;
    for (auto _ : state) {
        const auto raw = [&](QByteArray *output) {
            if (!rawPass(context.get(), key, input, piece, Sink(output)))
                state.SkipWithError("AES-256-GCM failed");
        };
        rawCopy += seconds([&] { raw(&rawOutput); });
        chunkedCopy += seconds([&] { benchmark::DoNotOptimize(chunkedPass(input, Sink(&chunkedOutput))); });
        rawHandoff += seconds([&] { raw(nullptr); });
        chunkedHandoff += seconds([&] { benchmark::DoNotOptimize(chunkedPass(input, Sink(nullptr))); });
        benchmark::ClobberMemory();
    }
    const double bytes = double(streamSize) * double(state.iterations());
    state.counters["raw_copy_GBps"] = bytes / rawCopy / 1e9;
    state.counters["chunked_copy_GBps"] = bytes / chunkedCopy / 1e9;
    state.counters["raw_handoff_GBps"] = bytes / rawHandoff / 1e9;
    state.counters["chunked_handoff_GBps"] = bytes / chunkedHandoff / 1e9;
    state.counters["copy_vs_raw"] = rawCopy / chunkedCopy;
    state.counters["handoff_vs_raw"] = rawHandoff / chunkedHandoff;
}

} // namespace

BENCHMARK(ChunkedAgainstRaw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

BENCHMARK_MAIN();
