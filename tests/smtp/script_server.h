// A fake SMTP server that follows a script, for what real servers will not
// do: replies cut into chunks, refusals at any step, silence, a closed
// connection, over-long replies, bytes smuggled after a reply.
//
// It listens on 127.0.0.1 (a port of the system's choosing), accepts one
// connection (more at NextConnection) on its own thread and runs the steps. Once the script
// is done it keeps recording whatever the client still sends until the
// client closes the connection. Heard() then holds every line the client
// sent, CR LF included, for a test to compare with Expected(), the lines of
// the script's Hear steps: a client that sends too much, too little or other
// bytes shows up there.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct ScriptStep {
    enum class Kind { kSay, kHear, kHearData, kStartTls, kClose, kTrickle, kAwait, kAcceptNext };
    Kind kind;
    std::vector<std::string> bytes;     // chunks to send, or the line expected and the reply
    std::chrono::milliseconds pace{0};  // kTrickle: the time between two bytes
    int tlsMaxVersion = 0;              // kStartTls: the newest version offered; 0 any
};

// Sends bytes to the client.
ScriptStep Say(std::string bytes);
// Sends each chunk; a chunk goes out only once the client has read the one
// before, so the client receives them one by one.
ScriptStep SayInChunks(std::vector<std::string> chunks);
// Sends bytes one at a time, pace apart: a server that keeps every wait
// short and the reply endless. Stops early once the client has gone.
ScriptStep Trickle(std::string bytes, std::chrono::milliseconds pace);
// Reads one line (up to CR LF) and records it; line is what the client
// should have sent. Then sends reply, if any.
ScriptStep Hear(std::string line, std::string reply = {});
// Reads and records lines up to the end of data (a lone dot), then sends reply; not in Expected().
ScriptStep HearData(std::string reply);
// The server side of a TLS handshake with the certificate given to the
// server; from here on every step goes through TLS.
ScriptStep StartTls();
// The same, offering no version newer than maxVersion (TLS1_1_VERSION, say)
// at OpenSSL's security level 0, which old versions need.
ScriptStep StartTlsUpTo(int maxVersion);
// Waits for the client's first bytes, whatever they are (a TLS ClientHello
// to a server that speaks none), and drops them unrecorded.
ScriptStep Await();
// Closes the connection at once (FIN), reading nothing more.
ScriptStep Close();
// Ends the connection as the end of the script does, then accepts the
// client's next connection, where the steps after this one run.
ScriptStep NextConnection();

class ScriptServer {
  public:
    // certificate and key are PEM files, needed only by StartTls steps.
    explicit ScriptServer(std::vector<ScriptStep> script, std::string certificate = {},
                          std::string key = {});
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    std::uint16_t Port() const { return m_port; }

    // Waits for the script to end, which needs the client to have closed
    // the connection (or a Close step, or a failed handshake).
    std::vector<std::string> Heard();
    std::vector<std::string> Expected() const;

  private:
    void Run(std::size_t first = 0);  // on the next connection, the steps from first on

    std::vector<ScriptStep> m_script;
    std::string m_certificate;
    std::string m_key;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::vector<std::string> m_heard;
    std::thread m_thread;
};
