// A fake SMTP server that follows a script, for what real servers will not
// do: replies cut into chunks, refusals at any step, silence, a closed
// connection, over-long replies, bytes smuggled after a reply.
//
// It listens on 127.0.0.1 (a port of the system's choosing), accepts one
// connection on its own thread and runs the steps in order. Once the script
// is done it keeps reading, and recording, whatever the client still sends
// until the client closes the connection. Heard() then holds every line the
// client sent, CR LF included, so a test compares it with Expected(), the
// lines of the script's Hear steps: a client that sends too much, too little
// or other bytes shows up there.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ScriptStep {
    enum class Kind { kSay, kHear, kStartTls, kClose };
    Kind kind;
    std::vector<std::string> bytes;  // chunks to send, or the line expected
};

// Sends bytes to the client.
ScriptStep Say(std::string bytes);
// Sends each chunk; a chunk goes out only once the client has read the one
// before, so the client receives them one by one.
ScriptStep SayInChunks(std::vector<std::string> chunks);
// Reads one line (up to CR LF) and records it; line is what the client
// should have sent. Ends the script when the client closes instead.
ScriptStep Hear(std::string line);
// The server side of a TLS handshake with the certificate given to the
// server; from here on every step goes through TLS.
ScriptStep StartTls();
// Closes the connection at once (FIN), reading nothing more.
ScriptStep Close();

class ScriptServer {
  public:
    // certificate and key are PEM files, needed only by StartTls steps.
    explicit ScriptServer(std::vector<ScriptStep> script, std::string certificate = {},
                          std::string key = {});
    // Cuts the connection if the client has not closed it, then joins.
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    std::uint16_t Port() const { return m_port; }

    // Waits until the client has closed the connection (or a Close step ran),
    // at most a generous while; false when that never happened.
    bool WaitUntilDone();

    std::vector<std::string> Heard() const;
    std::vector<std::string> Expected() const;
    // Whether the client closed the connection, as opposed to the server.
    bool ClientClosed() const;

  private:
    struct Connection;
    enum class StepOutcome { kNext, kClientGone, kStop };

    void Run();
    void RunSteps(Connection& connection);
    StepOutcome RunStep(Connection& connection, const ScriptStep& step);
    void Record(std::string line);

    std::vector<ScriptStep> m_script;
    std::string m_certificate;
    std::string m_key;
    int m_listener = -1;
    int m_connection = -1;
    std::uint16_t m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_doneChanged;
    bool m_done = false;
    bool m_clientClosed = false;
    std::vector<std::string> m_heard;
    std::thread m_thread;
};
