#pragma once
// The system headers that declare the socket types of socket_io.h
// (sockaddr_in, the SOL_SOCKET options) on POSIX systems.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
