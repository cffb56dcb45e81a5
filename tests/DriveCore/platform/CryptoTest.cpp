#include "DriveCore/platform/Crypto.h"

#include <gtest/gtest.h>

using namespace DriveCore;

// NIST SP 800-38A, F.5.5 (CTR-AES256.Encrypt), and a counter that wraps from all ones to zero:
// the key stream then goes on with the cipher of the all-zero block (from `openssl enc
// -aes-256-ecb` of the two counter blocks).
TEST(Crypto, CounterModeCountsAcrossAll128Bits)
{
    const QByteArray key = QByteArray::fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const QByteArray plain = QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                                 "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const QByteArray sealed = Crypto::aes256Ctr(key, QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"), plain);
    EXPECT_EQ(sealed.toHex(),
              "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
              "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6");
    EXPECT_EQ(Crypto::aes256Ctr(key, QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"), sealed), plain);

    const QByteArray allOnes(16, '\xff');
    EXPECT_EQ(Crypto::aes256Ctr(key, allOnes, QByteArray(33, '\0')).toHex(),
              "3b3c2921c85a24de9ac606ce6d1d60cce568f68194cf76d6174d4cc04310a85491");
    EXPECT_TRUE(Crypto::aes256Ctr(key, allOnes, {}).isEmpty());
}
