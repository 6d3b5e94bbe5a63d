#include "traffic_generator.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "frames.h"
#include "network_namespace.h"

namespace mirrowen::bench {

namespace {

constexpr std::size_t kLargestBatch = 32;
constexpr std::size_t kSequenceOffset = 18;  // where frames.h puts the sequence number
constexpr double kBatchesPerSecond = 2000;   // paced sends go out in batches of 0.5 ms

using Clock = std::chrono::steady_clock;

void SleepUntil(Clock::time_point when) {
    const auto since = when.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const timespec target{.tv_sec = static_cast<time_t>(seconds.count()),
                          .tv_nsec = static_cast<long>((since - seconds).count())};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
}

}  // namespace

TrafficGenerator::TrafficGenerator(const std::string& interfaceName)
    : socket_(testing::OpenSendingSocket(interfaceName)) {}

TrafficGenerator::~TrafficGenerator() { close(socket_); }

std::uint64_t TrafficGenerator::Send(std::size_t size, std::uint32_t firstSequence,
                                     std::uint64_t count, double ratePerSecond,
                                     std::chrono::milliseconds limit,
                                     std::vector<Clock::time_point>* acceptedAt) {
    static_assert(std::is_same_v<Clock::duration, std::chrono::nanoseconds>);
    const std::size_t batch =
        ratePerSecond <= 0
            ? kLargestBatch
            : std::clamp<std::size_t>(static_cast<std::size_t>(ratePerSecond / kBatchesPerSecond),
                                      1, kLargestBatch);
    std::vector<std::vector<unsigned char>> frames(batch, testing::MakeTestFrame(size, 0));
    std::vector<iovec> pieces(batch);
    std::vector<mmsghdr> messages(batch);
    for (std::size_t i = 0; i < batch; ++i) {
        pieces[i] = iovec{.iov_base = frames[i].data(), .iov_len = size};
        messages[i] = mmsghdr{};
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    const auto start = Clock::now();
    const auto deadline = start + limit;
    std::uint64_t sent = 0;
    while (sent < count && Clock::now() < deadline) {
        if (ratePerSecond > 0) {
            SleepUntil(start + std::chrono::nanoseconds(static_cast<std::int64_t>(
                                   static_cast<double>(sent) * 1e9 / ratePerSecond)));
        }
        const std::size_t now =
            static_cast<std::size_t>(std::min<std::uint64_t>(batch, count - sent));
        for (std::size_t i = 0; i < now; ++i) {
            const std::uint32_t sequence =
                htonl(firstSequence + static_cast<std::uint32_t>(sent + i));
            std::memcpy(frames[i].data() + kSequenceOffset, &sequence, sizeof sequence);
        }
        const int accepted = sendmmsg(socket_, messages.data(), static_cast<unsigned>(now), 0);
        // A full send queue (ENOBUFS) is not fatal: those frames are offered again.
        if (accepted > 0) {
            sent += static_cast<std::uint64_t>(accepted);
            if (acceptedAt != nullptr) acceptedAt->push_back(Clock::now());
        }
    }
    return sent;
}

}  // namespace mirrowen::bench
