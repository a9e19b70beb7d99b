// SWF header reader (declared in flash/swf_reader.h).
#include "flash/swf_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr std::size_t kSignatureSize = 3;
constexpr std::size_t kFwsHeadSize = 4;  // signature and version byte

// Closes the stream on every path out of a reader.
class File {
public:
    explicit File(std::FILE* f) : f_(f) {}
    ~File() { if (f_) std::fclose(f_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* get() const { return f_; }

private:
    std::FILE* f_;
};

// The C library's errno, as the Windows-style file error numbers the rest of
// the installer reports.
ErrorCode fileErrorFromErrno(int e)
{
    switch (e) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBUSY: return 5;  // the C runtime reports a sharing violation as EACCES
    case ENOMEM: return 8;
    default: return 31;
    }
}

// A regular file (or anything else that is not a folder) of that name.
bool fileExists(const std::string& fileName)
{
    struct stat st;
    if (stat(fileName.c_str(), &st) != 0)
        return false;
    return !S_ISDIR(st.st_mode);
}

// Reads up to `want` bytes from the start of an existing file.  A short file
// is not an error here: the header checks decide what they needed.
ErrorCode readFileHead(const std::string& fileName, std::uint8_t* buf, std::size_t want,
                       std::size_t& got)
{
    got = 0;
    errno = 0;
    File file(std::fopen(fileName.c_str(), "rb"));
    if (!file.get())
        return fileErrorFromErrno(errno);
    got = std::fread(buf, 1, want, file.get());
    if (got < want && std::ferror(file.get()))
        return fileErrorFromErrno(errno);
    return errOk;
}

}  // namespace

ErrorCode classifySwfHeader(const std::uint8_t* bytes, std::size_t n, SwfHeaderState& state)
{
    if (n < kSignatureSize)
        return ioErrReadPastEnd;
    state.swfSignature.assign(reinterpret_cast<const char*>(bytes), kSignatureSize);
    if (state.swfSignature == "FWS" || state.swfSignature == "CWS")
        return errOk;
    return errNotSwfFile;
}

ErrorCode checkFwsHeader(const std::uint8_t* bytes, std::size_t n, SwfHeaderState& state)
{
    state.swfVersion = 0;
    if (n < kSignatureSize)
        return ioErrReadPastEnd;
    if (std::memcmp(bytes, "FWS", kSignatureSize) != 0)
        return errNotSwfFile;
    if (n < kFwsHeadSize)
        return ioErrReadPastEnd;
    state.swfVersion = bytes[3];
    if (state.swfVersion > kMaxSwfVersion)
        return errSwfVersionTooHigh;
    if (state.swfVersion < kMinSwfVersion)
        return errSwfVersionTooLow;
    return errOk;
}

ErrorCode readSWFFileFormatType(const std::string& fileName, SwfHeaderState& state)
{
    if (!fileExists(fileName))
        return errOk;
    std::uint8_t head[kSignatureSize];
    std::size_t got = 0;
    if (ErrorCode r = readFileHead(fileName, head, sizeof head, got))
        return r;
    return classifySwfHeader(head, got, state);
}

ErrorCode readSWFFile_FWS_Format(const std::string& fileName, SwfHeaderState& state)
{
    state.swfVersion = 0;
    if (!fileExists(fileName))
        return errOk;
    std::uint8_t head[kFwsHeadSize];
    std::size_t got = 0;
    if (ErrorCode r = readFileHead(fileName, head, sizeof head, got))
        return r;
    return checkFwsHeader(head, got, state);
}
