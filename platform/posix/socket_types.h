#pragma once
// The system headers that declare the socket types of socket_io.h
// (sockaddr_in, the SOL_SOCKET options) and the address conversions
// (inet_ntop, ntohs) on POSIX systems.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
