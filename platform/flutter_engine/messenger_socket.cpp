#include "platform/flutter_engine/messenger_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace halvix::flutter_engine {

namespace {

std::string octalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

MessengerSocketLocation messengerSocketLocation(const char* runtimeDir, const std::string& tempDir) {
  if (runtimeDir && *runtimeDir) {
    std::string folder = runtimeDir;
    return {folder + "/halvix-messenger.sock", folder, false};
  }
  std::string folder = tempDir + "/halvix-" + std::to_string(::geteuid());
  return {folder + "/messenger.sock", folder, true};
}

MessengerSocketLocation defaultMessengerSocketLocation() {
  return messengerSocketLocation(std::getenv("XDG_RUNTIME_DIR"), "/tmp");
}

std::string defaultMessengerSocketPath() { return defaultMessengerSocketLocation().path; }

std::string prepareMessengerSocketFolder(const MessengerSocketLocation& location) {
  const std::string& folder = location.folder;
  if (location.privateFolder && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot create the socket folder " + folder + ": " + std::strerror(errno);
  // lstat for the private folder: a link planted there by someone else is
  // refused rather than followed.
  struct stat st {};
  int found = location.privateFolder ? ::lstat(folder.c_str(), &st) : ::stat(folder.c_str(), &st);
  if (found != 0) return "cannot use the socket folder " + folder + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "the socket folder " + folder + " is not a directory; remove it or give --socket PATH";
  uid_t self = ::geteuid();
  if (st.st_uid != self)
    return "the socket folder " + folder + " belongs to uid " + std::to_string(st.st_uid) + ", not to you (uid " +
           std::to_string(self) + "); remove it or give --socket PATH";
  if (location.privateFolder && (st.st_mode & 077) != 0)
    return "the socket folder " + folder + " is open to other users (mode " + octalMode(st.st_mode) +
           "); make it private (chmod 700 " + folder + ") or give --socket PATH";
  return {};
}

std::optional<sockaddr_un> messengerSocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

std::optional<uid_t> messengerPeerUid(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) return std::nullopt;
  return peer.uid;
}

}  // namespace halvix::flutter_engine
