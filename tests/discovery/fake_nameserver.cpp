// The silent or malformed-answering UDP nameserver of the tests.
#include "tests/discovery/fake_nameserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>

FakeNameserver::FakeNameserver(Reply reply) : m_fd(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    if (reply == Reply::kMalformed) {
        m_thread = std::thread([this] { AnswerMalformed(); });
    }
}

FakeNameserver::~FakeNameserver() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    close(m_fd);
}

std::string FakeNameserver::Nameserver() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

bool FakeNameserver::Queried() const {
    std::array<char, 1> byte{};
    return recv(m_fd, byte.data(), byte.size(), MSG_PEEK | MSG_DONTWAIT) >= 0;
}

// The query with its answer count set to one and an answer whose data
// length promises 40 bytes and gives 2.
void FakeNameserver::AnswerMalformed() {
    while (!m_stop) {
        pollfd wait{m_fd, POLLIN, 0};
        if (poll(&wait, 1, 20) != 1) {
            continue;
        }
        std::array<unsigned char, 512> packet{};
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = recvfrom(m_fd, packet.data(), packet.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 12 || got > 480) {
            continue;
        }
        packet[2] |= 0x80;  // a response
        packet[7] = 1;      // one answer
        const std::array<unsigned char, 14> cut = {0xc0, 0x0c, 0,  33, 0,  1, 0,
                                                   0,    0,    60, 0,  40, 0, 1};
        std::copy(cut.begin(), cut.end(), packet.begin() + got);
        sendto(m_fd, packet.data(), static_cast<std::size_t>(got) + cut.size(), 0,
               reinterpret_cast<sockaddr*>(&from), length);
    }
}
