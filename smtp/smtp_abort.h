// Ending a client's exchange from another thread.
//
// The owner of a CSmtp that runs on a worker thread gives it an SmtpAbort
// (CSmtp::SetAbort) and keeps a second reference. Abort(), from any thread,
// wakes every wait of the client at once: the operation in progress raises
// ERR_CANCELLED (419) and the connection is closed without QUIT, as after a
// broken channel. Only a host-name lookup cannot be woken; it is checked as
// soon as it returns.
#pragma once

class SmtpAbort {
  public:
    // 106 (ERR_SOCKET) when the descriptor cannot be made.
    SmtpAbort();
    ~SmtpAbort();

    SmtpAbort(const SmtpAbort&) = delete;
    SmtpAbort& operator=(const SmtpAbort&) = delete;

    // Thread-safe and idempotent; cannot fail. Nothing undoes it: an object
    // serves one exchange.
    void Abort() noexcept;
    bool Aborted() const noexcept;

    // Readable from the first Abort() on; the client polls it beside its
    // socket.
    int Descriptor() const noexcept { return m_eventFd; }

  private:
    int m_eventFd = -1;
};
