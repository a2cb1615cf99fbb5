#include "base/status.h"

#include <cerrno>
#include <cstring>

namespace dunmere {

Status StatusFromErrno(int err) {
  switch (err) {
    case 0: return kOk;
    case ENOENT: return kFileNotFound;
    case ENOTDIR: return kPathNotFound;
    case EACCES:
    case EPERM: return kAccessDenied;
    case ENOMEM: return kNoMemory;
    case EROFS: return kWriteProtect;
    case ENXIO:
    case ENODEV:
#ifdef ENOMEDIUM  // a Linux extension; the Windows C runtime has no such value
    case ENOMEDIUM:
#endif
      return kNotReady;
    case EIO: return kReadFault;
    case EBUSY:
    case ETXTBSY: return kSharingViolation;
    case EINVAL: return kInvalidArg;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return kDiskFull;
    case EEXIST: return kAlreadyExists;
    case ENAMETOOLONG: return kNameTooLong;
    case EFBIG: return kFileTooLarge;
    case ENOTEMPTY: return kDirNotEmpty;
    case EOPNOTSUPP: return kNotSupported;
    default: return kErrnoFlag | err;
  }
}

Status LastSystemStatus() { return StatusFromErrno(errno); }

std::string StatusMessage(Status s) {
  switch (s) {
    case kOk: return "Success";
    case kFileNotFound: return "File not found";
    case kPathNotFound: return "Path not found";
    case kAccessDenied: return "Access denied";
    case kNoMemory: return "Not enough memory";
    case kInvalidData: return "Invalid or corrupt data";
    case kWriteProtect: return "The medium is write-protected";
    case kNotReady: return "The device is not ready";
    case kCrcError: return "Data error (cyclic redundancy check)";
    case kBadClusterSize: return "Implausible cluster size";
    case kReadFault: return "Read error on the source";
    case kSharingViolation: return "The device or file is busy";
    case kNotSupported: return "Not supported";
    case kInvalidArg: return "Invalid argument or nothing to do";
    case kDiskFull: return "The destination is full";
    case kDirNotEmpty: return "Folder not empty";
    case kAlreadyExists: return "Already exists";
    case kNameTooLong: return "Name too long";
    case kFileTooLarge: return "File too large for the destination";
    case kNotFileRecord: return "Not a file record";
    case kAttributeNotFound: return "Attribute not found";
    case kNotResident: return "Data not resident";
    case kUnsupportedCompression: return "Compressed data that cannot be decoded";
    case kNoContent: return "The file's data cannot be found";
    case kDataPastEnd: return "The file's data lies past the end of the volume or image";
    case kDataOverwritten: return "The file's data is no longer on the medium (overwritten)";
    case kStopRequested: return "Stopped by the user";
    default: break;
  }
  if (s > 0 && (s & kErrnoFlag)) return std::strerror(s & ~kErrnoFlag);
  return "Error " + std::to_string(s);
}

}  // namespace dunmere
