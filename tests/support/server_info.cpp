#include "support/server_info.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/win32.h"

std::string ServerInfo(const char* fixture, const char* key)
{
    const char* folder = std::getenv("KV_SERVER_DIR");
    if (!folder || !*folder) {
        ADD_FAILURE() << "KV_SERVER_DIR is not set: run this test through ctest, which starts "
                      << fixture;
        return {};
    }
    std::ifstream in(std::string(folder) + "/" + fixture + ".info");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name, value;
        if (words >> name && name == key) {
            std::getline(words >> std::ws, value);
            return value;
        }
    }
    ADD_FAILURE() << "no \"" << key << "\" in " << folder << "/" << fixture << ".info";
    return {};
}

int ServerPort(const char* fixture, const char* key)
{
    return std::atoi(ServerInfo(fixture, key).c_str());
}

int ClosedLoopbackPort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    closesocket(s);
    return ntohs(a.sin_port);
}
