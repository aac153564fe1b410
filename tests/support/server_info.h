// Where the integration tests' servers listen. A server started by a CTest
// fixture (tests/servers/) writes "<fixture>.info" into $KV_SERVER_DIR: one
// "key value" line per fact, such as "port 40123".
#pragma once

#include <string>

// The value of `key` in the fixture's info file; empty when the file or the
// key is missing (the test then fails with a message naming both).
std::string ServerInfo(const char* fixture, const char* key);

// ServerInfo as a port number; 0 when missing.
int ServerPort(const char* fixture, const char* key = "port");

// A port of 127.0.0.1 that refuses connections: one that was free a moment
// ago (call WSAStartup first on Windows).
int ClosedLoopbackPort();
