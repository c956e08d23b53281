#include "platform/network/NetlinkPathMonitor.hpp"

#include "platform/dispatch/IOReactor.hpp"

#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/rtnetlink.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velmor {

namespace {

using Socket = std::unique_ptr<mnl_socket, int (*)(mnl_socket*)>;

Socket openSocket(unsigned groups) {
    Socket socket(::mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC), &::mnl_socket_close);
    if (!socket) {
        throw std::system_error(errno, std::generic_category(), "cannot open a route netlink socket");
    }
    if (::mnl_socket_bind(socket.get(), groups, MNL_SOCKET_AUTOPID) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot bind a route netlink socket");
    }
    return socket;
}

// The links by index, with their IFF_* flags.
using LinkFlags = std::unordered_map<unsigned, unsigned>;

bool isUsable(const LinkFlags& links, unsigned index) {
    auto found = links.find(index);
    if (found == links.end()) {
        return false;
    }
    unsigned flags = found->second;
    return (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
}

// Adds the output links of `route` when it is a unicast default route outside the local table.
void collectDefaultRouteLinks(const nlmsghdr* message, std::vector<unsigned>& links) {
    if (message->nlmsg_type != RTM_NEWROUTE || mnl_nlmsg_get_payload_len(message) < sizeof(rtmsg)) {
        return;
    }
    auto* route = static_cast<const rtmsg*>(::mnl_nlmsg_get_payload(message));
    if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST) {
        return;
    }
    const nlattr* attributes[RTA_MAX + 1] = {};
    ::mnl_attr_parse(
        message, sizeof(rtmsg),
        [](const nlattr* attribute, void* data) {
            if (::mnl_attr_type_valid(attribute, RTA_MAX) > 0) {
                static_cast<const nlattr**>(data)[::mnl_attr_get_type(attribute)] = attribute;
            }
            return MNL_CB_OK;
        },
        attributes);
    // Tables past 255 are only named by the attribute.
    unsigned table = route->rtm_table;
    if (attributes[RTA_TABLE] && ::mnl_attr_get_payload_len(attributes[RTA_TABLE]) >= sizeof(std::uint32_t)) {
        table = ::mnl_attr_get_u32(attributes[RTA_TABLE]);
    }
    if (table == RT_TABLE_LOCAL) {
        return;
    }
    if (attributes[RTA_OIF] && ::mnl_attr_get_payload_len(attributes[RTA_OIF]) >= sizeof(std::uint32_t)) {
        links.push_back(::mnl_attr_get_u32(attributes[RTA_OIF]));
    }
    if (const nlattr* multipath = attributes[RTA_MULTIPATH]) {
        auto* hop = static_cast<const rtnexthop*>(::mnl_attr_get_payload(multipath));
        int left = static_cast<int>(::mnl_attr_get_payload_len(multipath));
        while (RTNH_OK(hop, left)) {
            links.push_back(static_cast<unsigned>(hop->rtnh_ifindex));
            left -= NLMSG_ALIGN(hop->rtnh_len);
            hop = RTNH_NEXT(hop);
        }
    }
}

} // namespace

struct NetlinkPathMonitor::State : std::enable_shared_from_this<State> {
    // Joined to the link and route groups: its messages only say that something changed.
    Socket events{openSocket(RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE)};
    // Asks the kernel for the links and routes; used on the monitor's queue only.
    Socket queries{openSocket(0)};
    unsigned sequence = 0;

    std::mutex mutex;
    UpdateHandler handler;
    std::optional<SerialQueue> queue;
    bool started = false;
    bool cancelled = false;
    // The reactor's wait for the next change, until its handler runs: `cancel` stops it, which
    // lets go of this state.
    std::optional<IOReactor::WatchId> waiting;
    std::optional<NetworkPath> delivered;

    bool isCancelled() {
        std::lock_guard lock(mutex);
        return cancelled;
    }

    // On the queue: waits for the next change on the reactor.
    void watch() {
        // Under the lock, so that a `cancel` either comes first or finds the wait to stop.
        std::lock_guard lock(mutex);
        if (cancelled) {
            return;
        }
        try {
            waiting = IOReactor::shared().whenReadable(::mnl_socket_get_fd(events.get()), *queue,
                                                       [self = shared_from_this()] { self->changed(); });
        } catch (const std::system_error& error) {
            std::fprintf(stderr, "NetlinkPathMonitor: cannot wait for network changes: %s\n", error.what());
        }
    }

    void changed() {
        {
            std::lock_guard lock(mutex);
            waiting.reset();
        }
        drain();
        if (isCancelled()) {
            return;
        }
        deliver(false);
        watch();
    }

    // Reads every pending notification: they only say that something changed, and a lost one
    // (the socket's buffer overflowed) says the same.
    void drain() {
        char buffer[8192];
        for (;;) {
            ssize_t count = ::recv(::mnl_socket_get_fd(events.get()), buffer, sizeof buffer, MSG_DONTWAIT);
            if (count >= 0 || errno == ENOBUFS || errno == EINTR) {
                continue;
            }
            return;
        }
    }

    // On the queue: tells the handler the path, at start whatever it is, later when it changed.
    void deliver(bool initial) {
        NetworkPath path{isSatisfied() ? NetworkPath::Status::satisfied : NetworkPath::Status::unsatisfied};
        UpdateHandler current;
        {
            std::lock_guard lock(mutex);
            if (cancelled || (!initial && delivered == path)) {
                return;
            }
            delivered = path;
            current = handler;
        }
        if (current) {
            current(path);
        }
    }

    bool isSatisfied() {
        LinkFlags links;
        std::vector<unsigned> outputs;
        bool listed = dump(RTM_GETLINK, AF_UNSPEC, [&](const nlmsghdr* message) {
            if (message->nlmsg_type == RTM_NEWLINK &&
                mnl_nlmsg_get_payload_len(message) >= sizeof(ifinfomsg)) {
                auto* link = static_cast<const ifinfomsg*>(::mnl_nlmsg_get_payload(message));
                links[static_cast<unsigned>(link->ifi_index)] = link->ifi_flags;
            }
        });
        for (int family : {AF_INET, AF_INET6}) {
            listed = listed && dump(RTM_GETROUTE, family, [&](const nlmsghdr* message) {
                         collectDefaultRouteLinks(message, outputs);
                     });
        }
        if (!listed) {
            return false;
        }
        for (unsigned output : outputs) {
            if (isUsable(links, output)) {
                return true;
            }
        }
        return false;
    }

    // Dumps one kind of object and hands each message to `visit`; a dump that a change interrupted
    // is asked again. False, with the reason printed, when the kernel could not be asked.
    template <typename Visit> bool dump(std::uint16_t type, int family, Visit&& visit) {
        constexpr int attempts = 5;
        for (int attempt = 1;; ++attempt) {
            bool interrupted = false;
            int error = dumpOnce(type, family, visit, interrupted);
            if (error != 0) {
                std::fprintf(stderr, "NetlinkPathMonitor: cannot list the %s: %s\n",
                             type == RTM_GETLINK ? "network links" : "routes", std::strerror(error));
                return false;
            }
            if (!interrupted || attempt == attempts) {
                return true;
            }
        }
    }

    template <typename Visit> int dumpOnce(std::uint16_t type, int family, Visit& visit, bool& interrupted) {
        alignas(nlmsghdr) char buffer[32768];
        nlmsghdr* request = ::mnl_nlmsg_put_header(buffer);
        request->nlmsg_type = type;
        request->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request->nlmsg_seq = ++sequence;
        if (type == RTM_GETLINK) {
            auto* link = static_cast<ifinfomsg*>(::mnl_nlmsg_put_extra_header(request, sizeof(ifinfomsg)));
            link->ifi_family = static_cast<unsigned char>(family);
        } else {
            auto* route = static_cast<rtmsg*>(::mnl_nlmsg_put_extra_header(request, sizeof(rtmsg)));
            route->rtm_family = static_cast<unsigned char>(family);
        }
        const unsigned seq = request->nlmsg_seq;
        if (::mnl_socket_sendto(queries.get(), request, request->nlmsg_len) < 0) {
            return errno;
        }
        for (;;) {
            ssize_t count = ::mnl_socket_recvfrom(queries.get(), buffer, sizeof buffer);
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            int left = static_cast<int>(count);
            for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); ::mnl_nlmsg_ok(message, left);
                 message = ::mnl_nlmsg_next(message, &left)) {
                if (message->nlmsg_seq != seq) {
                    continue;
                }
                if (message->nlmsg_flags & NLM_F_DUMP_INTR) {
                    interrupted = true;
                }
                if (message->nlmsg_type == NLMSG_DONE) {
                    return 0;
                }
                if (message->nlmsg_type == NLMSG_ERROR) {
                    auto* answer = static_cast<const nlmsgerr*>(::mnl_nlmsg_get_payload(message));
                    return answer->error != 0 ? -answer->error : EPROTO;
                }
                visit(message);
            }
        }
    }
};

NetlinkPathMonitor::NetlinkPathMonitor() : state_(std::make_shared<State>()) {}

NetlinkPathMonitor::~NetlinkPathMonitor() {
    cancel();
}

void NetlinkPathMonitor::setPathUpdateHandler(UpdateHandler handler) {
    std::lock_guard lock(state_->mutex);
    if (!state_->cancelled) {
        state_->handler = std::move(handler);
    }
}

void NetlinkPathMonitor::start(SerialQueue queue) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->started || state_->cancelled) {
            return;
        }
        state_->started = true;
        state_->queue = queue;
    }
    queue.async([state = state_] {
        state->deliver(true);
        state->watch();
    });
}

void NetlinkPathMonitor::cancel() {
    UpdateHandler released;
    std::optional<IOReactor::WatchId> waiting;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) {
            return;
        }
        state_->cancelled = true;
        released = std::move(state_->handler);
        waiting = std::exchange(state_->waiting, std::nullopt);
    }
    // A handler queued already sees the cancel and lets go of the state itself.
    if (waiting) {
        IOReactor::shared().stopWatching(*waiting);
    }
}

} // namespace velmor
