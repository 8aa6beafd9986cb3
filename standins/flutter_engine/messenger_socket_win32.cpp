// The messenger socket on Windows: loopback TCP on a port the system picks.
// The path names a small file, in a folder of the user's own, that holds the
// port as decimal digits; the host writes it once it listens and removes it
// when it goes. Any local user may connect to a loopback port, so each end
// asks the system which process holds the other end of the connection and
// serves or trusts it only when it runs as the same user.
#include <winsock2.h>  // before windows.h
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <boost/asio/ip/tcp.hpp>

#include "standins/flutter_engine/messenger_endpoint.h"
#include "standins/flutter_engine/messenger_socket.h"
#include "platform/sockets_startup.h"
#include "platform/text_win32.h"

namespace halvix::flutter_engine {

namespace {

using platform::narrow;
using platform::widen;

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The port a port file names; nullopt when the file is missing, unreadable
// or holds anything else.
std::optional<unsigned short> readPortFile(const std::string& path) {
  std::ifstream file(std::filesystem::path(widen(path)), std::ios::binary);
  if (!file) return std::nullopt;
  char text[16] = {};
  file.read(text, sizeof text - 1);
  if (file.bad() || !file.eof()) return std::nullopt;
  char* end = nullptr;
  unsigned long port = std::strtoul(text, &end, 10);
  if (end == text || (*end != '\0' && std::string(end) != "\n") || port == 0 || port > 65535) return std::nullopt;
  return static_cast<unsigned short>(port);
}

// Written aside and moved into place, so that a client never reads half a
// file. 0 or a system error.
DWORD writePortFile(const std::string& path, unsigned short port) {
  std::wstring target = widen(path);
  std::wstring aside = target + L".new";
  {
    std::ofstream file(std::filesystem::path(aside), std::ios::binary | std::ios::trunc);
    file << port << "\n";
    if (!file.flush()) return ERROR_WRITE_FAULT;
  }
  if (!::MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DWORD error = ::GetLastError();
    ::DeleteFileW(aside.c_str());
    return error;
  }
  return 0;
}

// The user a process runs as, as the bytes of its SID; empty when the system
// does not tell (a process of another user, say, which we may not open).
std::vector<unsigned char> processUser(HANDLE process) {
  HANDLE rawToken = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &rawToken)) return {};
  UniqueHandle token(rawToken);
  DWORD size = 0;
  ::GetTokenInformation(rawToken, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !::GetTokenInformation(rawToken, TokenUser, buffer.data(), size, &size)) return {};
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  if (!::IsValidSid(sid)) return {};
  auto* bytes = static_cast<unsigned char*>(sid);
  return std::vector<unsigned char>(bytes, bytes + ::GetLengthSid(sid));
}

// The process at the other end of a loopback connection: the owner of the
// table row whose local end is our remote end and the other way round.
std::optional<DWORD> peerProcess(SOCKET socket) {
  sockaddr_in local{}, remote{};
  int localSize = sizeof local, remoteSize = sizeof remote;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
      ::getpeername(socket, reinterpret_cast<sockaddr*>(&remote), &remoteSize) != 0 || local.sin_family != AF_INET ||
      remote.sin_family != AF_INET)
    return std::nullopt;
  std::vector<unsigned char> table;
  ULONG size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between asking its size and reading it, by a row or
  // two for every client that connects meanwhile: clients that connect in a
  // burst outran an exact fit four times in a row under Wine, which reads the
  // table slowly, and were then taken for gone.
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    if (size > 0) size += 64 * sizeof(MIB_TCPROW_OWNER_PID);
    table.resize(size);
    result = ::GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, AF_INET,
                                   TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
  }
  if (result != NO_ERROR) return std::nullopt;
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[i];
    if (row.dwLocalAddr == remote.sin_addr.s_addr && static_cast<u_short>(row.dwLocalPort) == remote.sin_port &&
        row.dwRemoteAddr == local.sin_addr.s_addr && static_cast<u_short>(row.dwRemotePort) == local.sin_port)
      return row.dwOwningPid;
  }
  return std::nullopt;
}

// True when process `pid`, at the other end of a connection, runs as this
// process's user; false also when the system does not tell.
bool runsAsThisUser(DWORD pid) {
  if (pid == ::GetCurrentProcessId()) return true;
  // Windows names the owner of every connection; process 0 (the idle
  // process) owns none. Wine reports 0 for all of them, having no owners to
  // tell: there the check cannot be made, and the connection is let through
  // as on a single-user system.
  if (pid == 0) return true;
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return false;
  auto peer = processUser(process.get());
  auto self = processUser(::GetCurrentProcess());
  return !peer.empty() && !self.empty() && peer == self;
}

// True when the other end of `socket` runs as this process's user; nullopt
// when the system cannot tell.
std::optional<bool> peerIsThisUser(SOCKET socket) {
  auto pid = peerProcess(socket);
  if (!pid) return std::nullopt;
  return runsAsThisUser(*pid);
}

void noDelay(SOCKET socket) {
  // Small frames each way: Nagle's wait would hold every reply back.
  BOOL on = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

sockaddr_in loopback(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// Sockets for the Dart side's end, each with its own hold on Winsock.
struct Winsock {
  Winsock() : error(platform::socketsStartup()) {}
  ~Winsock() {
    if (error == 0) platform::socketsCleanup();
  }
  void keep() { error = -1; }
  int error;
};

// A blocking connection to the port; INVALID_SOCKET with *error set when
// there is none.
SOCKET connectTo(unsigned short port, int* error) {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    *error = ::WSAGetLastError();
    return s;
  }
  sockaddr_in address = loopback(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = ::WSAGetLastError();
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// Boost reports Winsock's numbers; callers of the stand-in get errno values.
int errnoValue(const boost::system::error_code& error) {
  if (!error) return 0;
  auto condition = error.default_error_condition();
  return condition.category() == boost::system::generic_category() ? condition.value() : EIO;
}

}  // namespace

MessengerSocketLocation defaultMessengerSocketLocation() {
  const wchar_t* base = ::_wgetenv(L"LOCALAPPDATA");
  std::filesystem::path folder =
      (base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) / L"Halvix";
  return {narrow((folder / L"messenger.port").native()), narrow(folder.native()), true};
}

std::string defaultMessengerSocketPath() { return defaultMessengerSocketLocation().path; }

// The folder lies in the user's own profile, whose rights keep other users
// out; what is left to check is that it is a folder.
std::string prepareMessengerSocketFolder(const MessengerSocketLocation& location) {
  std::filesystem::path folder(widen(location.folder));
  std::error_code error;
  if (location.privateFolder) std::filesystem::create_directories(folder, error);
  if (error) return "cannot create the socket folder " + location.folder + ": " + platform::systemMessage(error.value());
  if (!std::filesystem::is_directory(folder, error))
    return "the socket folder " + location.folder + " is not a directory; remove it or give --socket PATH";
  return {};
}

int MessengerEndpoint::open(Acceptor& acceptor) {
  if (path_.empty()) return ENAMETOOLONG;
  std::error_code status;
  auto kind = std::filesystem::symlink_status(std::filesystem::path(widen(path_)), status).type();
  if (kind != std::filesystem::file_type::not_found) {
    if (kind != std::filesystem::file_type::regular) return EEXIST;
    auto port = readPortFile(path_);
    if (!port) return EEXIST;
    // A port file whose port nobody of ours answers on is stale: replaced.
    Winsock winsock;
    int ignored = 0;
    SOCKET probe = connectTo(*port, &ignored);
    if (probe != INVALID_SOCKET) {
      bool ours = peerIsThisUser(probe).value_or(false);
      ::closesocket(probe);
      if (ours) return EADDRINUSE;
    }
  }
  boost::system::error_code error;
  acceptor.open(Protocol(AF_INET, IPPROTO_TCP), error);
  if (error) return errnoValue(error);
  // No other socket may bind the same port, not even with SO_REUSEADDR.
  BOOL exclusive = TRUE;
  ::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  boost::asio::ip::tcp::endpoint any(boost::asio::ip::address_v4::loopback(), 0);
  acceptor.bind(Protocol::endpoint(any), error);
  if (!error) acceptor.listen(boost::asio::socket_base::max_listen_connections, error);
  if (error) return errnoValue(error);
  Protocol::endpoint bound = acceptor.local_endpoint(error);
  if (error) return errnoValue(error);
  unsigned short port = ntohs(reinterpret_cast<const sockaddr_in*>(bound.data())->sin_port);
  if (DWORD written = writePortFile(path_, port)) return written == ERROR_ACCESS_DENIED ? EACCES : EIO;
  bound_ = true;
  mark_[0] = port;
  return 0;
}

MessengerEndpoint::Admission MessengerEndpoint::admit(Socket& client) const {
  // No row for the other end: it has closed already (a probe that only
  // connects), and there is nobody to serve or to name.
  const std::optional<DWORD> pid = peerProcess(client.native_handle());
  if (!pid) return Admission::kGone;
  if (!runsAsThisUser(*pid)) return Admission::kAnotherUser;
  noDelay(client.native_handle());
  return Admission::kServed;
}

// A socket bound to a completion port is in blocking mode for plain calls,
// so a write from another thread could block it; replies wait for the I/O
// thread instead.
std::ptrdiff_t MessengerEndpoint::writeWithoutWaiting(Socket::native_handle_type, const std::uint8_t*, std::size_t) {
  return -1;
}

MessengerEndpoint::~MessengerEndpoint() {
  if (bound_ && readPortFile(path_) == mark_[0]) ::DeleteFileW(widen(path_).c_str());
}

int connectMessenger(const std::string& path) {
  auto port = readPortFile(path);
  if (!port) {
    std::error_code missing;
    if (!std::filesystem::exists(std::filesystem::path(widen(path)), missing))
      throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), "connect " + path);
    throw std::runtime_error("connect " + path + ": the file does not hold a messenger port");
  }
  Winsock winsock;
  if (winsock.error) throw std::runtime_error("connect " + path + ": " + platform::systemMessage(winsock.error));
  int error = 0;
  SOCKET s = connectTo(*port, &error);
  if (s == INVALID_SOCKET)
    throw std::runtime_error("connect " + path + " (port " + std::to_string(*port) + "): " +
                             platform::systemMessage(error));
  auto ours = peerIsThisUser(s);
  if (!ours || !*ours) {
    ::closesocket(s);
    throw std::runtime_error("refusing the messenger at " + path + ": it is served by " +
                             (ours ? "another user" : "an unknown user") + ", not by you");
  }
  noDelay(s);
  winsock.keep();
  return static_cast<int>(s);
}

void closeMessengerSocket(int fd) {
  ::closesocket(static_cast<SOCKET>(fd));
  platform::socketsCleanup();
}

bool waitMessengerReadable(int fd, std::chrono::milliseconds timeout) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(fd), &readable);
  long long ms = std::max<long long>(timeout.count(), 0);
  timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000 * 1000)};
  return ::select(0, &readable, nullptr, nullptr, &limit) != 0;
}

// Windows keeps no count of bytes the peer has yet to read.
std::optional<std::size_t> messengerUnreadBytes(int) { return std::nullopt; }

}  // namespace halvix::flutter_engine
