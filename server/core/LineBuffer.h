// Splits a byte stream into lines, with a bound on the length of one line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace server {

class LineBuffer {
public:
    explicit LineBuffer(std::size_t maxLineLength) : maxLineLength_(maxLineLength) {}

    // Appends bytes and hands every complete line, without its line end, to `onLine`; any run of CR
    // and LF ends a line and empty lines are skipped. `onLine` returns false to stop (the connection
    // is gone). Returns false when a line is longer than the bound: the stream can no longer be
    // framed and the caller must drop the connection.
    bool Feed(const char *data, std::size_t size, const std::function<bool(std::string_view)> &onLine);

    bool Overflowed() const { return overflowed_; }

private:
    std::size_t maxLineLength_;
    std::string pending_;
    bool overflowed_ = false;
};

}  // namespace server
