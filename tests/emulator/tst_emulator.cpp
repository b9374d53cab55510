// The emulator, first its protocol core in-process (login dialogue, telnet option bytes, the command
// table's verdicts and readings, the flash exchange and the reboot that installs it, the IP input meter),
// then the nerio-emulator program over a real pseudo-terminal and loopback TCP: a serial line that fills
// up, is closed and reopened; the fault options, wire log and state file seen from outside. The image
// format is checked against OpenSSL by the firmware-file test; login, readings, flash and reboot through
// the application by the connection, configuration, end-to-end and device soak tests.

#include "consolesession.h"
#include "firmwareimage.h"
#include "ipinputmeter.h"
#include "modulatordevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
using Kind = ConsoleSession::Kind;
using Messages = QList<QByteArray>;
using Lock = IpInputMeter::Lock;

QByteArray msg(const QByteArray &text)
{
    return text + QByteArray(1, '\0');
}

const Messages loggedIn { msg("Logged in successfully\r\n") };
const QByteArray defaultCore
    = msg("Input mux : IP\r\nRef clock mux : internal\r\nCode Rate : 2/3\r\nGuard Interval : 1/32\r\n"
          "Constellation : 64QAM\r\nBandwidth : 8MHz\r\nTransmission Mode : OFDM mode : 8K\r\n"
          "Output Frequency : 666.000MHz\r\nAttenuation : 0dB\r\nOutput State : OFF\r\nMIP control : OFF\r\n");

// The core without a link: bytes in at a given time, messages out.
struct Rig {
    explicit Rig(Kind kind = Kind::Serial)
        : device(DeviceIdentity(), DeviceFaults())
        , session(kind, &device, QStringLiteral("test"))
    {
    }
    Messages feed(const QByteArray &bytes, qint64 t = 0)
    {
        session.receive(bytes, t);
        return session.takeOutput();
    }
    // One command line as the application sends it; the single answer message.
    QByteArray command(const QByteArray &line, qint64 t = 0)
    {
        const Messages out = feed(line + "\n\r", t);
        return out.size() == 1 ? out.first() : "<" + QByteArray::number(out.size()) + " messages>";
    }

    ModulatorDevice device;
    ConsoleSession session;
};

// The stored header's hex digits, as setFlashRequest carries them.
QByteArray headerHex(const QByteArray &name, int bank, quint32 size, const QByteArray &serial = QByteArray())
{
    return FirmwareImage::storedHeader(FirmwareHeader { name, serial, bank, size }).toHex();
}

// The nerio-emulator program as a child process; every wait is bounded.
class EmulatorProcess
{
public:
    ~EmulatorProcess()
    {
        process.terminate();
        process.waitForFinished(3000); // else QProcess kills it
    }
    // Starts the program and waits for its "ready" line, noting the links announced before it.
    bool start(const QStringList &arguments)
    {
        process.start(qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-emulator"), arguments);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && process.state() != QProcess::NotRunning) {
            const QString line = nextLine(100);
            if (line == QLatin1String("ready"))
                return true;
            if (line.startsWith(QLatin1String("serial: ")))
                serialPath = line.mid(8);
            if (line.startsWith(QLatin1String("telnet: ")))
                telnetPort = quint16(line.mid(8).toUInt());
        }
        return false;
    }
    QString nextLine(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!process.canReadLine() && t.elapsed() < timeoutMs && process.state() != QProcess::NotRunning)
            process.waitForReadyRead(50);
        return process.canReadLine() ? QString::fromLocal8Bit(process.readLine()).trimmed() : QString();
    }
    QProcess process;
    QString serialPath;
    quint16 telnetPort = 0;
};

// A raw client on a non-blocking descriptor (the terminal's slave side, or a TCP connection) that splits
// what arrives into NUL-terminated messages.
class Client
{
public:
    ~Client() { close(); }

    bool openSerial(const QString &path)
    {
        close();
        telnet = false;
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK); // raw: the emulator set it
        return fd >= 0;
    }
    bool connectTelnet(quint16 port)
    {
        close();
        telnet = true;
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return false;
        return ::fcntl(fd, F_SETFL, O_NONBLOCK) == 0;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        hungUp = false;
        buffer.clear();
    }
    bool send(const QByteArray &bytes)
    {
        return fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // The next message including its NUL, or whatever arrived (without NUL) at the time-out.
    QByteArray message(int timeoutMs = 3000)
    {
        QElapsedTimer t;
        t.start();
        int end;
        while ((end = buffer.indexOf('\0')) < 0 && t.elapsed() < timeoutMs && readSome(int(timeoutMs - t.elapsed())))
            ;
        const QByteArray m = buffer.left(end < 0 ? buffer.size() : end + 1);
        buffer.remove(0, m.size());
        return m;
    }
    QByteArray ask(const QByteArray &line)
    {
        send(line + "\n\r");
        return message();
    }
    // Everything arriving within windowMs (silence checks), or until the far end hangs up.
    QByteArray drain(int windowMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < windowMs && !hungUp)
            readSome(int(windowMs - t.elapsed()));
        const QByteArray all = buffer;
        buffer.clear();
        return all;
    }
    // Serial: ESC wakes the prompt; telnet: IAC DO AUTHENTICATION and the prompt arrive by themselves.
    bool logIn()
    {
        if (!telnet)
            send("\x1b");
        if (message() != (telnet ? QByteArray("\xff\xfd\x25", 3) : QByteArray()) + msg("Login:"))
            return false;
        send("admin\r\nkorva\r\n");
        return message() == msg("Password:") && message() == loggedIn.first();
    }

    int reads = 0; // how many separate reads delivered data
    bool hungUp = false; // end of file, or EIO once the emulator closed the terminal

private:
    bool readSome(int timeoutMs)
    {
        pollfd p { fd, POLLIN, 0 };
        if (fd < 0 || ::poll(&p, 1, qMax(0, timeoutMs)) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buffer.append(chunk, int(n));
            ++reads;
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            hungUp = true;
        return false;
    }

    int fd = -1;
    bool telnet = false;
    QByteArray buffer;
};

// Starts the emulator and logs a client in on its first link: the terminal if it has one, else TCP.
bool startLoggedIn(EmulatorProcess &emu, Client &client, const QString &options, const QStringList &paths = {})
{
    return emu.start(options.split(QLatin1Char(' ')) + paths)
        && (emu.serialPath.isEmpty() ? client.connectTelnet(emu.telnetPort) : client.openSerial(emu.serialPath))
        && client.logIn();
}
} // namespace

class TstEmulator : public QObject
{
    Q_OBJECT

private slots:
    void loginDialogues();
    void settingsAndReadings();
    void flashExchangeAndReboot();
    void ipInputMeter();
    void serialFullTerminalCloseAndReopen();
    void refuseMuteChunked();
    void delayDropLogThenStateOnAPacedLine();
};

void TstEmulator::loginDialogues()
{
    Rig rig;
    // CR wakes a logged-out line too; name and password may arrive byte by byte.
    QCOMPARE(rig.feed("\r"), Messages { msg("Login:") });
    QCOMPARE(rig.feed("admin\r\nkorv\r\n"), (Messages { msg("Password:"), msg("Access denied\r\n"), msg("Login:") }));
    Messages out;
    for (char c : QByteArray("admin\r\nkorva\r\n"))
        out += rig.feed(QByteArray(1, c));
    QCOMPARE(out, Messages { msg("Password:") } + loggedIn);
    // An application that reconnects without "exit" sends ESC on a line still logged in.
    QCOMPARE(rig.feed("\x1b"), Messages { msg("Login:") });
    QCOMPARE(rig.command("getID"), msg("Password:"));

    // Telnet opens with IAC DO AUTHENTICATION and the prompt. The refusal of authentication, a negotiation and a
    // sub-negotiation inside the name leave only the name's own bytes. The telnet client's ESC does not repeat the
    // prompt.
    Rig net(Kind::Telnet);
    net.session.open(0);
    const QByteArray options("\xff\xfc\x25\xff\xfb\x18", 6);
    QCOMPARE(net.feed(options + "ad" + QByteArray("\xff\xfa\x18\x01\xff\xf0", 6) + "min\r\n"),
        (Messages { QByteArray("\xff\xfd\x25", 3), msg("Login:"), msg("Password:") }));
    QCOMPARE(net.feed("\x1bkorva\r\n"), loggedIn);
    // IAC IAC is a data byte 255, kept: this value is not the port 2000.
    QCOMPARE(net.command(QByteArray("setIPPort 20\xff\xff") + "00"), msg("KO\r\n"));
    QCOMPARE(net.feed("exit\r\n"), Messages { msg("Logged out\r\n") });
    QVERIFY(net.session.closeRequested());
}

void TstEmulator::settingsAndReadings()
{
    Rig rig;
    QCOMPARE(rig.feed("\033admin\r\nkorva\r\n").mid(2), loggedIn);
    QCOMPARE(rig.command("getID"),
        msg("Product type : Nerio DVB-T modulator\r\nProduct serial number : NR0042\r\n"
            "Product MAC address : 02-4E-52-00-00-2A\r\nProduct version : 1.0.0\r\n"
            "Product manufacturing date : 2025-11-04\r\nProduct options : IP ASI\r\n"));
    // Accepted values, range ends among them.
    for (const char *line :
        { "setInputMux ASI", "setRefClockMux AUTO", "setCodeRate 5/6", "setGuardInterval 1/8", "setConstellation 16QAM",
            "setBandwidth 7", "setTransmissionMode 2K", "setOutputFrequency 858", "setAttenuation 30",
            "setOutputState ON", "setMipControl ON", "setSoftReset OFF", "setTuningValues -128 7 -9 511",
            "setIPAddressingMethod unicast", "setIPMulticastAddress 224.0.0.0", "setIPPort 65535" })
        QCOMPARE(rig.command(line), msg("OK\r\n"));
    // Refused values (exact case, just beyond a range, not a command) change nothing the readings show.
    for (const QByteArray &line :
        { QByteArray("setInputMux asi"), QByteArray("setOutputFrequency 858.001"), QByteArray("setAttenuation 31"),
            QByteArray("setIPMulticastAddress 240.0.0.1"), QByteArray("setIPPort 1023"), QByteArray("setIPPort 65536"),
            QByteArray("setIPUnicastAddress 10.0.0.1"), QByteArray("setTuningValues 128 0 0 0"),
            "setFlashPacket " + QByteArray(ConsoleSession::MaxLineLength, 'a') })
        QVERIFY2(rig.command(line) == msg("KO\r\n"), line.left(40).constData());
    QCOMPARE(rig.command("getCoreParameters"),
        msg("Input mux : ASI\r\nRef clock mux : AUTO\r\nCode Rate : 5/6\r\nGuard Interval : 1/8\r\n"
            "Constellation : 16QAM\r\nBandwidth : 7MHz\r\nTransmission Mode : OFDM mode : 2K\r\n"
            "Output Frequency : 858.000MHz\r\nAttenuation : 30dB\r\nOutput State : ON\r\nMIP control : ON\r\n"));
    QCOMPARE(rig.command("getIPParameters"),
        msg("IP addressing method : unicast\r\nIP multicast address : 224.0.0.0\r\n"
            "IP unicast address : 127.0.0.1\r\nIP port : 65535\r\n"));
    // Sign and three digits each: the panel cuts the reply at fixed character positions.
    QCOMPARE(rig.command("getTuningValues"), msg("\r\n-128 +007\r\n -009 +511 \r\n"));
    // ASI selected: the IP input is not measured. The PLL runs on the internal reference (AUTO).
    QCOMPARE(rig.command("getStatus"),
        msg("IP input status : No data\r\nASI input status : No data\r\nInput raw bitrate : 0.000 Mbps\r\n"
            "Input net bitrate : 0.000 Mbps\r\nPLL status : Locked on internal\r\nOutput status : ON\r\n"));
}

void TstEmulator::flashExchangeAndReboot()
{
    Rig rig;
    QCOMPARE(rig.feed("\033admin\r\nkorva\r\n").mid(2), loggedIn);
    // Refused: a bank outside 0..5, another product's serial number, too few or too many digits, a
    // non-hex digit, a flipped bit.
    const QByteArray good = headerHex("FW", 2, 10);
    QList<QByteArray> refused { headerHex("FW", 6, 10), headerHex("FW", 1, 10, "NR0043"), good.left(66), good + "00",
        QByteArray(good).replace(0, 1, "g") };
    QByteArray flipped = QByteArray::fromHex(good);
    flipped[33] = char(flipped.at(33) ^ 0x80); // the CRC's last bit
    refused << flipped.toHex();
    for (const QByteArray &hex : qAsConst(refused))
        QVERIFY2(rig.command("setFlashRequest " + hex) == msg("KO\r\n"), hex.constData());
    QCOMPARE(rig.command("setFlashPacket 00"), msg("KO\r\n")); // no header accepted yet
    QCOMPARE(rig.command("setFlashRequest " + headerHex("FW", 5, 10, "NR0042")), msg("Bank erased\r\n"));
    // A later request replaces it; a refused packet leaves the count where it was.
    const QByteArray payload(300, 'p');
    QCOMPARE(rig.command("setFlashRequest " + headerHex("NEW-FW", 0, 300)), msg("Bank erased\r\n"));
    for (const QByteArray &bad : { QByteArray("0"), QByteArray("zz"), QByteArray() })
        QCOMPARE(rig.command("setFlashPacket " + bad), msg("KO\r\n"));
    QCOMPARE(rig.command("setFlashPacket " + payload.left(299).toHex()), msg("OK\r\n"));
    QCOMPARE(rig.command("setFlashPacket " + payload.left(2).toHex()), msg("KO\r\n")); // 301 > 300
    QCOMPARE(rig.command("setFlashPacket " + payload.left(1).toHex()), msg("Download complete\r\n"));
    QCOMPARE(rig.command("setFlashPacket 00"), msg("KO\r\n")); // beyond the announced size
    // The reset installs it: silent for two seconds whatever arrives, then the prompt returns on its own.
    QCOMPARE(rig.command("setSoftReset ON", 100), msg("OK\r\n"));
    QCOMPARE(rig.feed("getID\n\r\x1b", 500), Messages());
    rig.session.tick(2099);
    QCOMPARE(rig.session.takeOutput(), Messages());
    rig.session.tick(2100);
    QCOMPARE(rig.session.takeOutput(), Messages { msg("Login:") });
    QVERIFY(rig.feed("admin\r\nkorva\r\ngetID\n\r", 2200).value(2).contains("\r\nProduct version : NEW-FW\r\n"));
}

void TstEmulator::ipInputMeter()
{
    // Seven 204-byte transport packets, the fourth a null packet (PID 0x1FFF), behind an RTP header with
    // two CSRC entries (20 bytes); 100 such datagrams in one second.
    QByteArray datagram = QByteArray::fromHex("8221") + QByteArray(18, '\0');
    for (int i = 0; i < 7; ++i)
        datagram += QByteArray::fromHex(i == 3 ? "471fff10" : "47010010") + QByteArray(200, char(0xff));
    IpInputMeter meter;
    for (int i = 0; i < 100; ++i)
        meter.addDatagram(datagram, 1000 + i * 10);
    // Counted as 188-byte packets: raw 100 * 7 * 188 * 8 = 1 052 800 bit/s, net 100 * 6 * 188 * 8 = 902 400.
    QCOMPARE(meter.reading(1990).lock, Lock::Locked204);
    QCOMPARE(meter.reading(1990).rawMbps, 1.0528);
    QCOMPARE(meter.reading(1990).netMbps, 0.9024);
    // 500 ms later only the last 50 datagrams are inside the window; a second after the last, no data.
    QCOMPARE(meter.reading(2490).rawMbps, 0.5264);
    QCOMPARE(meter.reading(2989).lock, Lock::Locked204);
    QCOMPARE(meter.reading(2990).lock, Lock::NoData);
    // One packet out of step: not locked, and unlocked data counts nothing. An RTP header alone, or
    // shorter than one, is not a lock either.
    datagram[20 + 204 * 3] = 0x00;
    meter.addDatagram(datagram, 3000);
    QCOMPARE(meter.reading(3000).lock, Lock::NotLocked);
    QCOMPARE(meter.reading(3000).rawMbps, 0.0);
    meter.addDatagram(datagram.left(20), 3100);
    QCOMPARE(meter.reading(3100).lock, Lock::NotLocked);
    meter.addDatagram(datagram.left(3), 3200);
    QCOMPARE(meter.reading(3200).lock, Lock::NotLocked);
}

void TstEmulator::serialFullTerminalCloseAndReopen()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, QStringLiteral("--serial")));
    // 100 readings of 249 bytes while the client reads nothing: far more than the terminal holds, so the
    // emulator's writes come up short and must resume when the client drains them.
    QVERIFY(c.send(QByteArray("getCoreParameters\n\r").repeated(100)));
    QTest::qWait(500);
    for (int i = 0; i < 100; ++i)
        QVERIFY2(c.message() == defaultCore, qPrintable(QStringLiteral("message %1").arg(i)));
    // Nothing more than those.

    QCOMPARE(c.ask("setCodeRate 5/6"), msg("OK\r\n"));
    c.close();
    QTest::qWait(1000); // until the emulator reads EIO
    // A new session starts logged out, so the CR of a command only wakes the prompt.
    QVERIFY(c.openSerial(emu.serialPath));
    QCOMPARE(c.ask("getCoreParameters"), msg("Login:"));
    QVERIFY(c.logIn());
    QVERIFY(c.ask("getCoreParameters").contains("\r\nCode Rate : 5/6\r\n")); // the device kept its settings
}

void TstEmulator::refuseMuteChunked()
{
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(
        emu, c, QStringLiteral("--serial --chunked --refuse getStatus --refuse setCodeRate --mute-after 4")));
    QCOMPARE(c.ask("getStatus"), msg("KO\r\n"));
    QCOMPARE(c.ask("setCodeRate 1/2"), msg("KO\r\n"));
    QCOMPARE(c.ask("setGuardInterval 1/32"), msg("OK\r\n"));
    // Chunked: the same message in several writes, NUL only at the very end.
    c.reads = 0;
    QCOMPARE(c.ask("getCoreParameters"), defaultCore);
    QVERIFY2(c.reads >= 2, QByteArray::number(c.reads).constData());
    // Muted after four command lines: no answer.
    c.send("getID\n\r");
    QCOMPARE(c.drain(600), QByteArray());
}

void TstEmulator::delayDropLogThenStateOnAPacedLine()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("wire.log"));
    const QString state = dir.filePath(QStringLiteral("state.json"));
    {
        EmulatorProcess emu;
        Client c;
        QVERIFY(startLoggedIn(emu, c, QStringLiteral("--telnet 0 --delay-ms 400 --drop-after 2 --log"),
            { log, QStringLiteral("--state"), state }));
        c.reads = 0;
        QElapsedTimer t;
        t.start();
        QCOMPARE(c.ask("setCodeRate 5/6"), msg("OK\r\n"));
        QVERIFY2(t.elapsed() >= 390 && c.reads == 1,
            qPrintable(QStringLiteral("%1 ms, %2 reads").arg(t.elapsed()).arg(c.reads)));
        // Nothing more, and the second answer still arrives.
        QCOMPARE(c.ask("setOutputFrequency 500.25"), msg("OK\r\n"));
        c.drain(3000);
        QVERIFY(c.hungUp);
    }
    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const QByteArray text = logFile.readAll();
    for (const char *entry :
        { " telnet > \\xff\\xfd%\n", " telnet < korva\n", " telnet < setCodeRate 5/6\n", " telnet > OK\\r\\n\\0\n" })
        QVERIFY2(text.contains(entry), text.constData());

    // A restart with the same state file, on a serial line paced at 115200 baud that drops after two lines.
    EmulatorProcess emu;
    Client c;
    QVERIFY(startLoggedIn(emu, c, QStringLiteral("--serial --baud-pace --drop-after 2 --state"), { state }));
    c.reads = 0;
    QElapsedTimer t;
    t.start();
    // 249 bytes at 11.52 bytes per millisecond take at least 21.6 ms on the line.
    QCOMPARE(c.ask("getCoreParameters"), QByteArray(defaultCore).replace("2/3", "5/6").replace("666.000", "500.250"));
    QVERIFY2(c.reads >= 2 && t.elapsed() >= 21,
        qPrintable(QStringLiteral("%1 reads in %2 ms").arg(c.reads).arg(t.elapsed())));
    QCOMPARE(c.ask("setCodeRate 3/4"), msg("OK\r\n"));
    c.drain(3000);
    QVERIFY(c.hungUp);
    // A new terminal is offered and announced; a new session has its own count; the device kept its settings.
    const QString line = emu.nextLine(3000);
    QVERIFY2(line.startsWith(QLatin1String("serial: /dev/")), qPrintable(line));
    QVERIFY(c.openSerial(line.mid(8)) && c.logIn());
    QVERIFY(c.ask("getCoreParameters").contains("\r\nCode Rate : 3/4\r\n"));
    QVERIFY(c.ask("getID").startsWith("Product type : "));
}

QTEST_GUILESS_MAIN(TstEmulator)
#include "tst_emulator.moc"
