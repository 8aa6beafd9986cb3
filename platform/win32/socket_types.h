#pragma once
// The system headers that declare the socket types of socket_io.h
// (sockaddr_in, the SOL_SOCKET options) and the address conversions
// (inet_ntop, ntohs) on Windows. Winsock pulls in
// <windows.h>, whose min and max macros would break std::min and std::max.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
