#include "flash/swf_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// A private folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/swf_reader_test.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made)
            path_ = made;
    }
    ~TempDir() { if (!path_.empty()) std::filesystem::remove_all(path_); }
    std::string file(const std::string& name, const std::string& bytes) const
    {
        std::string p = path_ + "/" + name;
        std::FILE* f = std::fopen(p.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A version-10 movie head with a frame rectangle and an end tag behind it.
const std::string kValidV10("FWS\x0a\x15\x00\x00\x00\x78\x00\x05\x5f\x00\x00\x0f\xa0\x00\x00\x18\x01\x00\x00\x00", 23);

struct FileRow {
    const char* name;
    std::string bytes;
    ErrorCode typeResult;     // readSWFFileFormatType
    std::string signature;    // swfSignature afterwards ("old": unchanged)
    ErrorCode fwsResult;      // readSWFFile_FWS_Format
    std::uint8_t version;     // swfVersion afterwards
};

const FileRow kFileRows[] = {
    {"valid v10", kValidV10, errOk, "FWS", errOk, 10},
    {"head only v3", std::string("FWS\x03", 4), errOk, "FWS", errOk, 3},
    {"v11", std::string("FWS\x0b", 4), errOk, "FWS", errOk, 11},
    {"v2", std::string("FWS\x02\x10\x00\x00\x00", 8), errOk, "FWS", errSwfVersionTooLow, 2},
    {"v12", std::string("FWS\x0c\x10\x00\x00\x00", 8), errOk, "FWS", errSwfVersionTooHigh, 12},
    {"v0", std::string("FWS\x00", 4), errOk, "FWS", errSwfVersionTooLow, 0},
    {"v255", std::string("FWS\xff", 4), errOk, "FWS", errSwfVersionTooHigh, 255},
    {"compressed", std::string("CWS\x0a\x10\x00\x00\x00\x78\x9c", 10), errOk, "CWS", errNotSwfFile, 0},
    {"lower case", std::string("fws\x0a", 4), errNotSwfFile, "fws", errNotSwfFile, 0},
    {"other", "GIF89a", errNotSwfFile, "GIF", errNotSwfFile, 0},
    {"NUL in signature", std::string("F\0S\x0a", 4), errNotSwfFile, std::string("F\0S", 3), errNotSwfFile, 0},
    {"empty", "", ioErrReadPastEnd, "old", ioErrReadPastEnd, 0},
    {"1 byte", "F", ioErrReadPastEnd, "old", ioErrReadPastEnd, 0},
    {"2 bytes", "FW", ioErrReadPastEnd, "old", ioErrReadPastEnd, 0},
    {"3 bytes FWS", "FWS", errOk, "FWS", ioErrReadPastEnd, 0},
    {"3 bytes CWS", "CWS", errOk, "CWS", errNotSwfFile, 0},
};

TEST(SwfReader, ReadsFileHeads)
{
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    int n = 0;
    for (const FileRow& row : kFileRows) {
        SCOPED_TRACE(row.name);
        std::string name = std::to_string(n++);
        name += ".swf";  // (GCC 12 warns falsely about "literal" + std::string here)
        std::string path = dir.file(name, row.bytes);
        SwfHeaderState state;
        state.swfSignature = "old";
        state.swfVersion = 99;
        EXPECT_EQ(readSWFFileFormatType(path, state), row.typeResult);
        EXPECT_EQ(state.swfSignature, row.signature);
        EXPECT_EQ(state.swfVersion, 99);  // classification leaves the version alone
        EXPECT_EQ(readSWFFile_FWS_Format(path, state), row.fwsResult);
        EXPECT_EQ(state.swfVersion, row.version);
    }
}

TEST(SwfReader, MissingFileOrFolderIsNotAnError)
{
    TempDir dir;
    for (const std::string& path : {dir.path() + "/absent.swf", dir.path(), std::string()}) {
        SCOPED_TRACE(path);
        SwfHeaderState state{"FWS", 10};
        EXPECT_EQ(readSWFFileFormatType(path, state), errOk);
        EXPECT_EQ(state.swfSignature, "FWS");
        EXPECT_EQ(readSWFFile_FWS_Format(path, state), errOk);
        EXPECT_EQ(state.swfVersion, 0);
    }
}

// Every version byte, straight through the core.
TEST(SwfReader, VersionByteSweep)
{
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t head[4] = {'F', 'W', 'S', static_cast<std::uint8_t>(v)};
        SwfHeaderState state;
        ErrorCode expected = v > 11 ? errSwfVersionTooHigh : v < 3 ? errSwfVersionTooLow : errOk;
        EXPECT_EQ(checkFwsHeader(head, sizeof head, state), expected) << v;
        EXPECT_EQ(state.swfVersion, v);
    }
}

}  // namespace
