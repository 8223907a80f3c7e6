// Our client against a TFTP server no one here wrote: Debian's tftpd-hpa on loopback.
#include "Peers.h"
#include "tftp/IdTrivialFTP.h"

#include <gtest/gtest.h>

namespace {

class Tftpd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TTftpdPeer::Installed()) {
            GTEST_SKIP() << TftpdProgram << " is not installed (Debian package tftpd-hpa)";
        }
        Server = std::make_unique<TTftpdPeer>();
        ASSERT_TRUE(Server->Started()) << "in.tftpd did not start on a free port";
    }

    // Uploads bytes under name (the server resolves names inside its folder) and returns the
    // client's BufferSize at the end.
    int32_t Upload(const std::string& bytes, const std::string& name, int32_t blockSize) {
        TIdTrivialFTP client(nullptr);
        client.SetHost("127.0.0.1");
        client.SetPort(Server->Port());
        client.SetReceiveTimeout(3000);
        client.SetRequestedBlockSize(blockSize);
        TMemoryStream source(bytes);
        client.UploadStream(source, name);
        return client.BufferSize();
    }

    std::unique_ptr<TTftpdPeer> Server;
};

TEST_F(Tftpd, StoresEveryLengthAroundTheBlockBoundaries) {
    for (const int32_t blockSize : {1500, 512}) {
        for (const size_t size : {0u, 1u, 511u, 512u, 513u, 1499u, 1500u, 1501u}) {
            const std::string bytes = TestBytes(size, size * 3 + 1);
            const std::string name =
                "f" + std::to_string(size) + "-" + std::to_string(blockSize) + ".bin";
            int32_t bufferSize = 0;
            ASSERT_NO_THROW(bufferSize = Upload(bytes, name, blockSize)) << name;
            // The server takes the block size offered.
            EXPECT_EQ(bufferSize, blockSize + 4) << name;
            EXPECT_EQ(ReadFile(Server->Dir() / name), bytes) << name;
        }
    }
}

TEST_F(Tftpd, StoresAFiveMebibyteImage) {
    const std::string bytes = TestBytes(5 * 1024 * 1024, 77);
    for (const int32_t blockSize : {1500, 512}) {
        const std::string name = "five-" + std::to_string(blockSize) + ".bin";
        ASSERT_NO_THROW(Upload(bytes, name, blockSize)) << name;
        EXPECT_TRUE(ReadFile(Server->Dir() / name) == bytes) << name;
    }
}

TEST_F(Tftpd, StoresAnImageOfMoreThan65535Blocks) {
    // 65700 blocks of 512 bytes and a short one: the block number wraps from 65535 to 0.
    const std::string bytes = TestBytes(65700 * 512 + 100, 65535);
    ASSERT_NO_THROW(Upload(bytes, "wrap.bin", 512));
    EXPECT_TRUE(ReadFile(Server->Dir() / "wrap.bin") == bytes);
}

} // namespace
