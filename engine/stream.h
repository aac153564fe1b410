// A C stream that closes itself when it goes out of scope. Internal to
// engine/.
#pragma once

#include <cstdio>
#include <memory>

namespace engine {

struct StreamCloser {
    void operator()(FILE* stream) const { std::fclose(stream); }
};
using Stream = std::unique_ptr<FILE, StreamCloser>;

} // namespace engine
