#include "platform/Files.h"

#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
// After windows.h, which they take for granted.
#include <sddl.h>

#include <cerrno>
#include <cstring>

#include "platform/win32/SystemText.h"

namespace {

HANDLE HandleOf(std::FILE* file) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
}

// Names are UTF-8 inside the program and reach the system through its wide-character calls,
// whatever the ANSI code page.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

}  // namespace

std::filesystem::path SystemPath(const std::string& name) {
  return std::filesystem::path(Wide(name));
}

std::string SystemName(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

std::string CreateOwnersFile(const std::string& path) {
  // The user who runs the program, as the rights list names users.
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
    return SystemText(::GetLastError());
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  auto* user = reinterpret_cast<TOKEN_USER*>(buffer.data());
  const bool known = ::GetTokenInformation(token, TokenUser, user, size, &size) != 0;
  ::CloseHandle(token);
  wchar_t* sid = nullptr;
  if (!known || !::ConvertSidToStringSidW(user->User.Sid, &sid))
    return SystemText(::GetLastError());
  // Full rights for that user alone, none inherited from the folder.
  const std::wstring rights = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
  ::LocalFree(sid);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          rights.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
    return SystemText(::GetLastError());
  // A file that is there keeps what it has: CREATE_NEW leaves it alone.
  const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = ::GetLastError();
  ::LocalFree(attributes.lpSecurityDescriptor);
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
    return {};
  }
  return error == ERROR_FILE_EXISTS ? std::string() : SystemText(error);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return ::_wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(Wide(path).c_str()) != 0;
}

bool MoveOnto(const std::string& from, const std::string& to, std::string& why) {
  // Write-through: the call returns once the move is on the disk.
  if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
    return true;
  why = SystemText(::GetLastError());
  return false;
}

std::string SyncFile(std::FILE* file) {
  return ::FlushFileBuffers(HandleOf(file)) ? std::string() : SystemText(::GetLastError());
}

std::FILE* OpenRegularFile(const std::string& path, std::string& why) {
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) {
    why = std::strerror(errno);
    return nullptr;
  }
  // A pipe or a device such as CON or NUL opens like a file; only a disk file has a size.
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(HandleOf(file)) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(HandleOf(file), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = "not a regular file";
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool StampOf(std::FILE* file, FileStamp& stamp) {
  FILETIME written{};
  LARGE_INTEGER size{};
  if (!::GetFileTime(HandleOf(file), nullptr, nullptr, &written) ||
      !::GetFileSizeEx(HandleOf(file), &size))
    return false;
  stamp.Size = static_cast<std::uint64_t>(size.QuadPart);
  stamp.Modified = static_cast<std::int64_t>((std::uint64_t{written.dwHighDateTime} << 32) |
                                             written.dwLowDateTime);
  return true;
}

bool ReadAt(std::FILE* file, std::uint64_t offset, std::uint8_t* into, std::size_t n) {
  return ::_fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0 &&
         std::fread(into, 1, n, file) == n;
}
