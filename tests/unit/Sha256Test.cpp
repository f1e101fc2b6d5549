// SHA-256 against the standard test vectors (FIPS 180-4 examples and the
// NIST byte-oriented set), fed whole and in uneven pieces.
#include <gtest/gtest.h>

#include <string>

#include "scan/Sha256.h"

namespace {

std::string DigestOf(const std::string& data, std::size_t piece)
{
    Sha256 hash;
    Sha256Start(hash);
    for (std::size_t at = 0; at < data.size(); at += piece) {
        Sha256Add(hash, data.data() + at, std::min(piece, data.size() - at));
    }
    unsigned char digest[kSha256Size];
    Sha256Finish(hash, digest);
    char hex[kSha256HexSize];
    Sha256Hex(digest, hex);
    return hex;
}

TEST(Sha256, StandardVectors)
{
    struct Row {
        const char* name;
        std::string data;
        const char* digest;
    } const rows[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"a million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Lengths around the padding's boundary: 55 bytes fit one block with
        // the length, 56 need a second.
        {"55 bytes", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {"56 bytes", std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {"64 bytes", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.digest, DigestOf(row.data, row.data.size() + 1));
        EXPECT_EQ(row.digest, DigestOf(row.data, 1));
        EXPECT_EQ(row.digest, DigestOf(row.data, 63));
    }
}

}  // namespace
