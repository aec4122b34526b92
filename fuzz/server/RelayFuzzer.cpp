// Feeds arbitrary stream bytes, datagrams, connects, disconnects and clock steps to the relay, and checks
// that whatever it sends could not corrupt a plug-in's parsing.
#include <fuzzer/FuzzedDataProvider.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "server/core/Relay.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Checks every outbound message instead of sending it.
class CheckingTransport : public server::Transport {
public:
    void SendStream(server::ConnectionId, std::string_view text) override {
        // Whole lines only: the plug-in joins an unfinished one to whatever comes next.
        Check(!text.empty() && text.back() == '\n');
        Check(text.find('\0') == std::string_view::npos);
        Check(text.find('\r') == std::string_view::npos);
        Check(text.find("====") == std::string_view::npos);
        Check(text.find("=\n") == std::string_view::npos);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            std::string_view line = text.substr(start, end - start);
            // "<digits>|<type>|<text>" with a non-empty text.
            std::size_t bar = line.find('|');
            Check(bar != std::string_view::npos && bar > 0 && line.size() > bar + 3 && line[bar + 2] == '|');
            // A slot the plug-in has (1..63, 0 for chat), or a notice's number.
            int slot = std::atoi(std::string(line.substr(0, bar)).c_str());
            Check(slot < 64 || slot == 9000 || slot == 9001);
            start = end + 1;
        }
    }
    void SendDatagrams(const server::OutboundDatagram *datagrams, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i) {
            Check(datagrams[i].prefix.size() + datagrams[i].body.size() <= 1400);
            int slot = std::atoi(std::string(datagrams[i].prefix).c_str());
            Check(slot >= 1 && slot < 64);
        }
    }
    std::size_t Queued(server::ConnectionId) const override { return queued; }
    void Close(server::ConnectionId) override {}
    // Logins are answered later, when the input says so, as the worker thread would.
    void CheckLogin(std::uint64_t ticket, int, std::string_view, std::string_view) override {
        tickets.push_back(ticket);
    }

    std::size_t queued = 0;
    std::vector<std::uint64_t> tickets;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    spdlog::set_level(spdlog::level::off);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    CheckingTransport transport;
    server::RelayLimits limits;
    limits.maxClients = 8;
    limits.maxLineLength = 512;
    limits.locationRate = 20;
    limits.maxPendingPerAddress = 4;
    limits.maxLoginFailures = 3;
    server::Relay relay(transport, limits);
    server::TimePoint now{};
    const std::uint32_t loopback = 0x7f000001;

    while (input.remaining_bytes() > 0) {
        server::ConnectionId connection = input.ConsumeIntegralInRange<server::ConnectionId>(1, 6);
        switch (input.ConsumeIntegralInRange<int>(0, 7)) {
            case 0:
                relay.OnConnect(connection, input.ConsumeBool() ? loopback : loopback + 1, now);
                break;
            case 1:
            case 2: {
                std::string bytes = input.ConsumeRandomLengthString(600);
                relay.OnStreamData(connection, bytes.data(), bytes.size(), now);
                break;
            }
            case 3:
            case 4: {
                server::Endpoint from{input.ConsumeBool() ? loopback : loopback + 1,
                                      input.ConsumeIntegralInRange<std::uint16_t>(5000, 5003)};
                std::string bytes = input.ConsumeRandomLengthString(1600);
                relay.OnDatagram(from, bytes.data(), bytes.size(), now);
                break;
            }
            case 5:
                relay.OnDisconnect(connection, "fuzz");
                break;
            case 6:
                now += std::chrono::milliseconds(input.ConsumeIntegralInRange<int>(0, 40000));
                relay.OnTick(now);
                break;
            case 7:
                // Answers the oldest login under check; a full queue makes chat skip that reader.
                transport.queued = input.ConsumeBool() ? 0 : 1 << 20;
                if (!transport.tickets.empty()) {
                    relay.OnLoginChecked(transport.tickets.front(),
                                         static_cast<server::LoginResult>(input.ConsumeIntegralInRange<int>(0, 2)),
                                         now);
                    transport.tickets.erase(transport.tickets.begin());
                }
                break;
        }
    }
    return 0;
}
