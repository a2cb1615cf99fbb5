#pragma once
// One status type for the whole core: 0 is success, positive values are system
// error codes, negative values are the program's own. Linux errno values are
// mapped onto the Windows-style codes the engines and logs already use, so a
// status means the same thing whichever platform produced it.
#include <cstdint>
#include <string>

namespace dunmere {

// A status left unread is a failure nobody hears of, hence [[nodiscard]]; a
// caller that truly has nothing to do with one says so with (void).
class [[nodiscard]] Status {
 public:
  constexpr Status(int32_t code = 0) noexcept : code_(code) {}
  constexpr operator int32_t() const noexcept { return code_; }

 private:
  int32_t code_;
};
static_assert(sizeof(Status) == 4);

inline constexpr Status kOk = 0;
// System-style codes the program produces itself.
inline constexpr Status kFileNotFound = 2;
inline constexpr Status kPathNotFound = 3;
inline constexpr Status kAccessDenied = 5;
inline constexpr Status kNoMemory = 8;
inline constexpr Status kWriteProtect = 19;
inline constexpr Status kNotReady = 21;
inline constexpr Status kCrcError = 23;
inline constexpr Status kBadClusterSize = 29;
inline constexpr Status kReadFault = 30;
inline constexpr Status kSharingViolation = 32;
inline constexpr Status kNotSupported = 50;
inline constexpr Status kInvalidArg = 87;
inline constexpr Status kDiskFull = 112;
inline constexpr Status kAlreadyExists = 183;
inline constexpr Status kNameTooLong = 206;
inline constexpr Status kFileTooLarge = 223;
inline constexpr Status kDirNotEmpty = 145;
inline constexpr Status kInvalidData = 13;
// The program's own negative codes.
inline constexpr Status kNotFileRecord = -1;
inline constexpr Status kAttributeNotFound = -100;
inline constexpr Status kNotResident = -101;
inline constexpr Status kUnsupportedCompression = -102;
inline constexpr Status kNoContent = -103;
// A found file whose data cannot be copied for a known reason, not a read
// error: its clusters lie past the end of the volume or image, or its data
// was overwritten by other files since it was deleted.
inline constexpr Status kDataPastEnd = -104;
inline constexpr Status kDataOverwritten = -105;
// Also the answer of a progress callback asking to stop, hence a plain int.
inline constexpr int32_t kStopRequested = -9527;

// errno values without a close Windows counterpart keep their number with this
// bit set (the "customer" bit of Windows codes), so they never collide.
inline constexpr Status kErrnoFlag = 0x20000000;

Status StatusFromErrno(int err);
// Status of the calling thread's errno.
Status LastSystemStatus();
// A short English text for any status, for per-file lists and the command line.
std::string StatusMessage(Status s);

}  // namespace dunmere
