// The relay's notice line: a refusal or the end of a session, with its reason.
#include "server/core/Notice.h"

#include "server/core/RelayClient.h"
#include "server/core/Text.h"

namespace server {

std::string NoticeLine(std::string_view text, Retry retry) {
    int number = retry == Retry::Never ? kNoticeFinal : kNoticeTryLater;
    return std::to_string(number) + "|m|" + StreamText("Server: " + std::string(text), kMaxText) + "\n";
}

}  // namespace server
