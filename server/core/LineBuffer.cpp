// Line framing for the stream channel.
#include "server/core/LineBuffer.h"

namespace server {

bool LineBuffer::Feed(const char *data, std::size_t size, const std::function<bool(std::string_view)> &onLine) {
    if (overflowed_) return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\n' && data[i] != '\r') continue;
        std::string_view piece(data + start, i - start);
        start = i + 1;
        if (pending_.size() + piece.size() > maxLineLength_) {
            overflowed_ = true;
            return false;
        }
        std::string_view line = piece;
        if (!pending_.empty()) {
            pending_.append(piece);
            line = pending_;
        }
        if (!line.empty() && !onLine(line)) return true;
        pending_.clear();
    }
    std::string_view rest(data + start, size - start);
    if (pending_.size() + rest.size() > maxLineLength_) {
        overflowed_ = true;
        pending_.clear();
        return false;
    }
    pending_.append(rest);
    return true;
}

}  // namespace server
