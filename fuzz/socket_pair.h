#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <span>

#include "fuzz_check.h"
#include "protocol/tcp_socket.h"

// A socket pair made once per run: the input is written to one end and the code under test
// reads the other, which does not block, so the end of the input reads like a silent peer.
// Inputs up to kMaxInput fit its buffer, so the whole input is written before any is read.
class FuzzSocketPair {
  public:
    static constexpr std::size_t kMaxInput = 60 * 1024;

    FuzzSocketPair() {
        int fds[2];
        FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
        m_reader.reset(fds[0]);
        m_writer.reset(fds[1]);
        FUZZ_CHECK(::fcntl(m_reader.fd(), F_SETFL, O_NONBLOCK) == 0);
        const int bufferBytes = 256 * 1024;
        ::setsockopt(m_writer.fd(), SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    }

    int readerFd() const { return m_reader.fd(); }

    void write(std::span<const char> bytes) const {
        FUZZ_CHECK(bytes.size() <= kMaxInput);
        FUZZ_CHECK(bytes.empty() || krt::sendAll(m_writer.fd(), bytes));
    }

    // Whatever the reader left, so that the next input starts clean.
    void drain() const {
        char scrap[4096];
        while (::recv(m_reader.fd(), scrap, sizeof scrap, 0) > 0) {
        }
    }

  private:
    krt::TcpSocket m_reader;
    krt::TcpSocket m_writer;
};
