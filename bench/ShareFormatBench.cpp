// Chunked share encryption of a 256 MiB stream against one raw AES-256-GCM pass over the
// same bytes. The machine is shared, so every iteration times the raw pass and both chunked
// passes back to back, and the counters compare the three from the same moments:
//   raw      one EVP AES-256-GCM call from the plaintext into a 256 MiB output buffer
//   copy     ShareFormat::encryptStream whose write operation copies every sealed chunk into
//            a 256 MiB output buffer, as the raw pass leaves its output
//   handoff  the same with a write operation that keeps nothing, as a sink that passes the
//            chunk on (a pipe, an upload) sees it
// Both chunked passes read through views of the in-memory plaintext, as encryptFile does.
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

bool rawPass(EVP_CIPHER_CTX *context, const QByteArray &key, const QByteArray &input, QByteArray &output)
{
    const QByteArray nonce = ShareFormat::chunkNonce(0, true);
    auto *out = reinterpret_cast<unsigned char *>(output.data());
    int produced = 0;
    int tail = 0;
    return EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr,
                              reinterpret_cast<const unsigned char *>(key.constData()),
                              reinterpret_cast<const unsigned char *>(nonce.constData()))
            == 1
        && EVP_EncryptUpdate(context, out, &produced, reinterpret_cast<const unsigned char *>(input.constData()),
                             int(input.size()))
            == 1
        && EVP_EncryptFinal_ex(context, out + produced, &tail) == 1
        && EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_GET_TAG, 16, out + produced) == 1;
}

qint64 chunkedPass(const QByteArray &input, QByteArray *output)
{
    qint64 readOffset = 0;
    qint64 writeOffset = 0;
    return ShareFormat::encryptStream(
        contentKey, 0, ShareFormat::chunkSize,
        [&](qint64 maxBytes) {
            const qint64 n = std::min(maxBytes, input.size() - readOffset);
            readOffset += n;
            return QByteArray::fromRawData(input.constData() + readOffset - n, n);
        },
        [&](const QByteArray &chunk) {
            if (output)
                std::copy_n(chunk.constData(), chunk.size(), output->data() + writeOffset);
            else
                benchmark::DoNotOptimize(chunk.constData());
            writeOffset += chunk.size();
        });
}

void ChunkedAgainstRaw(benchmark::State &state)
{
    const QByteArray &input = plaintext();
    const QByteArray key = ShareFormat::fileKey(contentKey, 0);
    // Touched up front, so no pass pays for first-touch page faults.
    QByteArray rawOutput(input.size() + 16, '\0');
    QByteArray chunkedOutput(ShareFormat::encryptedSize(streamSize, ShareFormat::chunkSize), '\0');
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                 &EVP_CIPHER_CTX_free);
    double raw = 0;
    double copy = 0;
    double handoff = 0;
    for (auto _ : state) {
        raw += seconds([&] {
            if (!rawPass(context.get(), key, input, rawOutput))
                state.SkipWithError("AES-256-GCM failed");
        });
        copy += seconds([&] { benchmark::DoNotOptimize(chunkedPass(input, &chunkedOutput)); });
        handoff += seconds([&] { benchmark::DoNotOptimize(chunkedPass(input, nullptr)); });
        benchmark::ClobberMemory();
    }
    const double bytes = double(streamSize) * double(state.iterations());
    state.counters["raw_GBps"] = bytes / raw / 1e9;
    state.counters["copy_GBps"] = bytes / copy / 1e9;
    state.counters["handoff_GBps"] = bytes / handoff / 1e9;
    state.counters["copy_vs_raw"] = raw / copy;
    state.counters["handoff_vs_raw"] = raw / handoff;
}

} // namespace

BENCHMARK(ChunkedAgainstRaw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

BENCHMARK_MAIN();
