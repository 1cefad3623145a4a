#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <QByteArray>
#include <QList>
#include <QString>

namespace lyr::sim {

// What the simulated meter is and how it misbehaves. Every field may also be changed while the
// simulator runs, through the setters of MeterSimulator.
struct SimConfig {
    QString model = "LYR102";  // any text; unsupported models allowed
    QString maker = "ZORVA";
    QString serial = "A1234567";
    QString firmware = "1.00";
    quint32 baudRate = 9600;  // answers only while the pty's line speed equals this
    double valueMin = 0.9e-3,
           valueMax = 1.1e-3;  // readings drawn in this range (deterministic seed)
    double limitLow = 0.95e-3, limitHigh = 1.05e-3;  // comparator: LO below, HI above, else IN
    QString temperature = "23.5";
    QString triggerSource = "IMM";  // "IMM" or "EXT" (answer to :trig:sour?)
    int triggerEveryMs = 0;         // >0: an external trigger every N ms
    bool pace = false;              // pace written bytes at the wire speed (10 bits per byte)
    int replyDelayMs = 0;           // the meter's own think time before a reply starts
    // faults
    bool silent = false;       // never answer anything
    int chunkSize = 0;         // >0: write replies in chunks of this many bytes, with a short gap
    int chunkGapMs = 20;       // that gap
    bool lfBeforeCr = false;   // end replies with LF CR instead of CR LF
    bool garbage = false;      // prefix each reply with garbage bytes (>0x7F, NUL)
    bool endlessLine = false;  // answer read/fetch queries with an endless line, no terminator
    QString linkName;          // name of the link in VirtualPortDirectory(); default made unique
    QString logPath;           // when set, every received line is appended to this file
};

struct ReceivedLine {
    QByteArray line;   // without CR LF
    quint32 baudRate;  // line speed of the pty when the line was complete
};

// One simulated ZORVA meter on a pseudo-terminal, served by its own thread.
//
// The port is published as a symbolic link in VirtualPortDirectory() pointing at the pty slave.
// The simulator keeps a slave descriptor of its own open for its whole life, so that a client
// closing and reopening the port never leaves the master without a slave (which would make the
// master report hang-up and lose the line settings).
//
// Note for clients that set TIOCEXCL: on a pty the exclusive flag lives as long as the pty pair,
// not as long as the client's descriptor, so a non-root client that closes and reopens the port
// must clear it with TIOCNXCL before close() or its own reopen fails with EBUSY.
class MeterSimulator {
  public:
    explicit MeterSimulator(SimConfig config = {});
    ~MeterSimulator();  // stops the thread, closes the pty, removes the link
    MeterSimulator(const MeterSimulator&) = delete;
    MeterSimulator& operator=(const MeterSimulator&) = delete;

    [[nodiscard]] bool Start();  // opens the pty, publishes the link, starts the thread
    [[nodiscard]] QString PortName()
        const;  // full path of the published link (what LyrLogger opens)
    [[nodiscard]] QString SlaveName()
        const;  // the pty slave behind the link (/dev/pts/N), after Start
    void
    Trigger();  // an external trigger now (EXT: answers a pending read; IMM: sets io:input? bit 0)
    // Closes the master and the simulator's own slave, as an unplugged USB adapter vanishes: the
    // client's descriptor sees hang-up, the thread ends and the link is removed (the device node
    // of an unplugged adapter disappears too). The simulator cannot be started again.
    void HangUp();

    // Thread-safe setters; they take effect from the next line received.
    void SetSilent(bool);
    void SetConfig(const SimConfig&);  // everything except linkName and logPath
    [[nodiscard]] SimConfig Config() const;
    void SetModel(const QString&);
    void SetBaudRate(quint32);
    void SetValueRange(double valueMin, double valueMax);
    void SetLimits(double limitLow, double limitHigh);
    void SetTemperature(const QString&);
    void SetTriggerSource(const QString&);
    void SetTriggerEveryMs(int);
    void SetPace(bool);
    void SetChunkSize(int);
    void SetLfBeforeCr(bool);
    void SetGarbage(bool);
    void SetEndlessLine(bool);

    [[nodiscard]] QList<ReceivedLine> Received() const;
    void ClearReceived();
    // True once that line was received (also when it was received before the call).
    [[nodiscard]] bool WaitForReceived(const QByteArray& line, int timeoutMs) const;
    // The last reply queued for the wire, without garbage or terminator ("1.0012E-03,IN").
    [[nodiscard]] QByteArray LastReply() const;
    // A read query is waiting for an external trigger.
    [[nodiscard]] bool ReadPending() const;

    // Called on the simulator's thread for every line received (the program prints them).
    void SetReceivedCallback(std::function<void(const ReceivedLine&)>);

  private:
    struct Engine;  // the pty, the thread's state and the protocol
    void StopThread();

    mutable std::mutex m_mutex;  // protects m_config, m_received, m_lastReply, m_onReceived
    mutable std::condition_variable m_receivedChanged;  // signalled under m_mutex per line
    SimConfig m_config;
    QList<ReceivedLine> m_received;
    QByteArray m_lastReply;
    std::function<void(const ReceivedLine&)> m_onReceived;

    QString m_portName;
    std::unique_ptr<Engine> m_engine;  // owned by the thread while it runs
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_triggerRequests{0};
    std::atomic<bool> m_readPending{false};
};

}  // namespace lyr::sim
