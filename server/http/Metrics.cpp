// Writing the relay server's counters in the Prometheus text exposition format.
#include "server/http/Metrics.h"

#include "server/config/Version.h"

#include <charconv>
#include <initializer_list>
#include <utility>

namespace server {

namespace {

class Writer {
public:
    void Family(const char *name, const char *type, const char *help) {
        text_ += "# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += "\n# TYPE ";
        text_ += name;
        text_ += ' ';
        text_ += type;
        text_ += '\n';
    }

    void Sample(const char *name, const char *labels, std::uint64_t value) {
        Name(name, labels);
        char digits[24];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        text_.append(digits, result.ptr);
        text_ += '\n';
    }

    // to_chars: the shortest form that reads back exactly, whatever the process locale.
    void Sample(const char *name, const char *labels, double value) {
        Name(name, labels);
        char digits[32];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        text_.append(digits, result.ptr);
        text_ += '\n';
    }

    void Labelled(const char *name, const char *type, const char *help, const char *label,
                  std::initializer_list<std::pair<const char *, std::uint64_t>> values) {
        Family(name, type, help);
        for (const auto &[value, count] : values) {
            std::string labels = std::string(label) + "=\"" + value + "\"";
            Sample(name, labels.c_str(), count);
        }
    }

    std::string Take() { return std::move(text_); }

private:
    void Name(const char *name, const char *labels) {
        text_ += name;
        if (labels && *labels) {
            text_ += '{';
            text_ += labels;
            text_ += '}';
        }
        text_ += ' ';
    }

    std::string text_;
};

}  // namespace

std::string MetricsText(const ClientCounts &clients, const RelayCounters &counters, const NodeState &node,
                        const StreamStats &streams) {
    Writer out;
    out.Family("skorvale_build_info", "gauge", "The running build: always 1, with its version and revision.");
    std::string build = std::string("version=\"") + Version() + "\",revision=\"" + Revision() + "\"";
    out.Sample("skorvale_build_info", build.c_str(), std::uint64_t{1});
    out.Family("skorvale_up", "gauge", "1 when the listeners are open and the server is not draining.");
    out.Sample("skorvale_up", "", std::uint64_t{node.listening && !node.draining ? 1u : 0u});
    out.Family("skorvale_draining", "gauge", "1 while the server drains before it stops.");
    out.Sample("skorvale_draining", "", std::uint64_t{node.draining ? 1u : 0u});
    out.Family("skorvale_drains_total", "counter", "Drains begun (SIGTERM or SIGINT).");
    out.Sample("skorvale_drains_total", "", node.drains);
    out.Labelled("skorvale_reloads_total", "counter", "Reloads (SIGHUP), by result.", "result",
                 {{"applied", node.reloads}, {"refused", node.reloadsRefused}});
    out.Family("skorvale_logins_total", "counter", "Logins accepted.");
    out.Sample("skorvale_logins_total", "", counters.logins);
    out.Family("skorvale_refusals_total", "counter",
               "Logins, and connections before their login, turned away, by reason.");
    for (std::size_t i = 0; i < counters.refusals.size(); ++i) {
        std::string labels = std::string("reason=\"") + kRefusalNames[i] + "\"";
        out.Sample("skorvale_refusals_total", labels.c_str(), counters.refusals[i]);
    }
    if (node.clustered) {
        out.Family("skorvale_network_connected", "gauge", "1 while the node is connected to a NATS server.");
        out.Sample("skorvale_network_connected", "", std::uint64_t{node.networkConnected ? 1u : 0u});
        out.Family("skorvale_network_reconnects_total", "counter", "Times the node connected to NATS again.");
        out.Sample("skorvale_network_reconnects_total", "", node.networkReconnects);
        out.Family("skorvale_network_remote_aircraft", "gauge", "Aircraft of other nodes known here.");
        out.Sample("skorvale_network_remote_aircraft", "", static_cast<std::uint64_t>(node.remoteAircraft));
        out.Family("skorvale_login_store_ready", "gauge", "1 while the network's login store answers.");
        out.Sample("skorvale_login_store_ready", "", std::uint64_t{node.loginStoreReady ? 1u : 0u});
        out.Family("skorvale_login_store_errors_total", "counter",
                   "Calls to the login store that failed or timed out.");
        out.Sample("skorvale_login_store_errors_total", "", node.loginStoreErrors);
        out.Family("skorvale_network_messages_dropped_total", "counter",
                   "Messages from other nodes dropped because the relay fell behind.");
        out.Sample("skorvale_network_messages_dropped_total", "", node.networkDropped);
    }
    out.Labelled("skorvale_clients", "gauge", "Clients logged in, by kind, and connections not logged in yet.", "kind",
                 {{"pilot", clients.pilots},
                  {"crew", clients.crew},
                  {"view_only", clients.viewOnly},
                  {"connecting", clients.connecting}});

    out.Family("skorvale_datagrams_received_total", "counter", "Datagrams read from the socket.");
    out.Sample("skorvale_datagrams_received_total", "", counters.datagramsIn);
    out.Family("skorvale_datagrams_sent_total", "counter", "Datagrams relayed to receivers.");
    out.Sample("skorvale_datagrams_sent_total", "", counters.datagramsOut);
    out.Family("skorvale_stream_messages_received_total", "counter", "Stream lines read from clients.");
    out.Sample("skorvale_stream_messages_received_total", "", counters.streamMessagesIn);
    out.Family("skorvale_stream_messages_sent_total", "counter", "Stream lines queued to clients.");
    out.Sample("skorvale_stream_messages_sent_total", "", counters.streamMessagesOut);

    out.Labelled("skorvale_datagrams_dropped_total", "counter", "Datagrams not relayed, by reason.", "reason",
                 {{"malformed", counters.datagramsMalformed},
                  {"unknown_sender", counters.datagramsUnknownSender},
                  {"too_long", counters.datagramsTooLong},
                  {"bad_position", counters.datagramsUnplaceable},
                  {"rate_limit", counters.datagramsOverRate},
                  {"send_failed", counters.datagramsUnsent}});
    out.Labelled("skorvale_stream_messages_dropped_total", "counter", "Stream lines ignored, by reason.", "reason",
                 {{"malformed", counters.linesMalformed}});
    out.Labelled("skorvale_connections_dropped_total", "counter", "Connections the server ended, by reason.", "reason",
                 {{"slow_reader", counters.closedSlowReader},
                  {"line_too_long", counters.closedLongLine},
                  {"silent", counters.closedSilent},
                  {"no_login", counters.closedNoLogin},
                  {"gave_way", counters.closedForNewcomer},
                  {"login_refused", counters.loginsRefused}});
    out.Labelled("skorvale_rate_limit_hits_total", "counter", "Times a limit turned traffic away, by limit.", "limit",
                 {{"datagrams_per_second", counters.datagramsOverRate},
                  {"chat_per_second", counters.chatOverRate},
                  {"identity_per_second", counters.identityOverRate},
                  {"max_clients", counters.refusedOverLimit}});

    const char *latency = "skorvale_relay_latency_seconds";
    out.Family(latency, "histogram",
               "From a datagram's arrival on the socket to the system taking each relayed copy of it.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < counters.latencyBuckets.size(); ++i) {
        cumulative += counters.latencyBuckets[i];
        std::string bound = "+Inf";
        if (i < kLatencyBoundsMicros.size()) {
            char digits[32];
            auto result = std::to_chars(digits, digits + sizeof digits, kLatencyBoundsMicros[i] / 1e6);
            bound.assign(digits, result.ptr);
        }
        std::string labels = "le=\"" + bound + "\"";
        out.Sample("skorvale_relay_latency_seconds_bucket", labels.c_str(), cumulative);
    }
    out.Sample("skorvale_relay_latency_seconds_sum", "", static_cast<double>(counters.latencyNanosTotal) / 1e9);
    out.Sample("skorvale_relay_latency_seconds_count", "", cumulative);

    out.Family("skorvale_web_streams", "gauge", "Live map connections open.");
    out.Sample("skorvale_web_streams", "", static_cast<std::uint64_t>(streams.open));
    out.Labelled("skorvale_web_streams_dropped_total", "counter", "Live map connections turned away or closed.",
                 "reason", {{"limit", streams.refused}, {"fell_behind", streams.fellBehind}});
    return out.Take();
}

}  // namespace server
