#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QString>

namespace lyr::bench {

// A length of serial cable between a client and a simulated meter, made of a pseudo-terminal of
// its own: the client opens the relay's port, the relay holds the meter's port. Bytes from the
// meter are passed on as they come (the simulator paces them itself); bytes from the client are
// held back until they would have crossed the wire at the line's baud rate, because the
// simulator reads a query the moment the client writes it, as if the wire took no time in that
// direction.
//
// Being outside the program, the relay also knows when each reply to a fetch query became
// complete on the client's side: the instant its last byte was handed to the client's pty.
class WireRelay {
  public:
    using Clock = std::chrono::steady_clock;

    WireRelay(QString meterPort, quint32 baudRate, bool paceQueries);
    ~WireRelay();  // stops the thread, removes the link
    WireRelay(const WireRelay&) = delete;
    WireRelay& operator=(const WireRelay&) = delete;

    [[nodiscard]] bool Start();
    // Full path of the link in the virtual port directory that the client opens.
    [[nodiscard]] QString PortName() const { return m_linkPath; }

    // When the last byte of each reply to a fetch query reached the client's pty, in order.
    [[nodiscard]] std::vector<Clock::time_point> FetchReplyTimes() const;
    // When the client had written the whole of each fetch query (its LF reached the relay).
    [[nodiscard]] std::vector<Clock::time_point> FetchQueryTimes() const;
    // Bytes on the wire of the last fetch query and of the last reply to one (with CR LF).
    [[nodiscard]] int FetchQueryBytes() const { return m_fetchQueryBytes; }
    [[nodiscard]] int FetchReplyBytes() const { return m_fetchReplyBytes; }

  private:
    void Run();
    void FromClient(const char* data, long size, Clock::time_point now);
    void FromMeter(const char* data, long size);

    QString m_meterPort;
    quint32 m_baudRate;
    bool m_paceQueries;
    QString m_linkPath;
    int m_meterFd = -1;
    int m_master = -1;
    int m_slave = -1;  // kept open so the master never loses its last slave
    int m_wake = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    // Touched by the relay thread only.
    struct Held {
        char byte;
        Clock::time_point due;
    };
    std::vector<Held> m_held;  // client bytes not yet across the wire, oldest first
    std::size_t m_heldFirst = 0;
    Clock::time_point m_wireFreeAt{};
    QByteArray m_clientLine;
    QByteArray m_meterLine;
    // What the next line from the meter answers. The client sends a query only once the last
    // reply is complete or given up (and purged), so the latest query is the one answered.
    enum class Awaiting { Nothing, Fetch, Other } m_awaiting = Awaiting::Nothing;

    mutable std::mutex m_mutex;  // protects m_fetchReplyTimes and m_fetchQueryTimes
    std::vector<Clock::time_point> m_fetchReplyTimes;
    std::vector<Clock::time_point> m_fetchQueryTimes;
    std::atomic<int> m_fetchQueryBytes{0};
    std::atomic<int> m_fetchReplyBytes{0};
};

}  // namespace lyr::bench
