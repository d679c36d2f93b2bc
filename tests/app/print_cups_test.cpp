// Print Window through a real print queue: a private CUPS scheduler with a cups-pdf queue, the
// queue chosen in the (scripted) print dialog, and the PDF that cups-pdf writes read back. The
// test starts the scheduler with a configuration of its own and ends it by its process id. It
// needs root (cupsd runs the cups-pdf backend as root) and skips, saying why, where CUPS cannot
// be set up.

#include "output/export_picture.h"
#include "support/analyze_fixture.h"
#include "support/printed_page.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <optional>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace korv {
namespace {

using namespace test;

constexpr const char* kQueue = "korvanthile-test";
constexpr const char* kPpd = "CUPS-PDF_opt.ppd";
// Checks a tenth of a second apart: starting up and converting a page take a few seconds.
constexpr int kTries = 300;
constexpr std::chrono::milliseconds kTryInterval{100};

QString tool(const char* name) {
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/sbin", "/bin"});
}

// A command's standard output; nothing when it fails.
std::optional<QString> run(const char* name, const QStringList& args) {
    QProcess p;
    p.start(tool(name), args);
    if (!p.waitForFinished(30'000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return std::nullopt;
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

template <class Ready> bool poll(Ready ready) {
    for (int i = 0; i < kTries && !ready(); ++i) {
        std::this_thread::sleep_for(kTryInterval);
    }
    return ready();
}

// The scheduler: configuration, spool, logs and socket in one folder of its own, reached
// through CUPS_SERVER by the command-line tools and by the program's printing alike.
class PrivateCups {
  public:
    explicit PrivateCups(QString folder) : dir_(std::move(folder)) {}
    ~PrivateCups() {
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate(); // SIGTERM to its process id
            if (!cupsd_.waitForFinished(10'000)) {
                cupsd_.kill();
                cupsd_.waitForFinished(10'000);
            }
        }
        qunsetenv("CUPS_SERVER");
    }

    // Empty when the queue is ready, else why not.
    QString start() {
        for (const char* d : {"conf", "spool", "spool/tmp", "cache", "state", "log"}) {
            if (!QDir().mkpath(path(d))) {
                return QStringLiteral("cannot make ") + path(d);
            }
        }
        // The scheduler's filters run as its own unprivileged user and must reach the spool.
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        for (const QString& d : {QFileInfo(dir_).absolutePath(), dir_}) {
            QFile::setPermissions(d, open);
        }
        QFile::setPermissions(path("spool/tmp"), open | QFile::WriteGroup | QFile::WriteOther);
        const QString conf = path("conf/cupsd.conf");
        const QString files = path("conf/cups-files.conf");
        if (!write(conf, "Listen " + socket() +
                             "\nLogLevel info\nWebInterface No\nBrowsing No\n"
                             "DefaultAuthType None\n<Location />\nOrder allow,deny\nAllow all\n"
                             "</Location>\n") ||
            !write(files, "ServerRoot " + path("conf") + "\nRequestRoot " + path("spool") +
                              "\nTempDir " + path("spool/tmp") + "\nCacheDir " + path("cache") +
                              "\nStateDir " + path("state") + "\nErrorLog " + path("log/error") +
                              "\nAccessLog " + path("log/access") + "\nPageLog " +
                              path("log/page") + "\n")) {
            return QStringLiteral("cannot write the configuration");
        }
        qputenv("CUPS_SERVER", socket().toLocal8Bit());
        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        cupsd_.start(tool("cupsd"), {"-f", "-c", conf, "-s", files});
        if (!cupsd_.waitForStarted()) {
            return QStringLiteral("cupsd does not start: ") + cupsd_.errorString();
        }
        if (!poll([this] {
                return cupsd_.state() == QProcess::Running &&
                       run("lpstat", {"-r"}).value_or("").startsWith("scheduler is running");
            })) {
            return QStringLiteral("cupsd is not answering: ") + cupsd_.readAll() + log();
        }
        // The model as this machine names it.
        QString model;
        for (const QString& line : run("lpinfo", {"-m"}).value_or("").split('\n')) {
            if (line.section(' ', 0, 0).endsWith(kPpd)) {
                model = line.section(' ', 0, 0);
            }
        }
        if (model.isEmpty()) {
            return QStringLiteral("no cups-pdf model (%1) among the drivers").arg(kPpd);
        }
        if (!run("lpadmin", {"-p", kQueue, "-E", "-v", "cups-pdf:/", "-m", model})) {
            return QStringLiteral("lpadmin cannot add the cups-pdf queue") + log();
        }
        return {};
    }

    // Waits for a job of the queue to complete; false when none does, or the queue stops.
    bool waitForCompletedJob() {
        return poll([] {
            return !run("lpstat", {"-W", "completed", "-o", kQueue})
                        .value_or("")
                        .trimmed()
                        .isEmpty();
        });
    }

    // The end of the scheduler's log, for a failure's message.
    [[nodiscard]] QString log() const {
        QFile f(path("log/error"));
        return f.open(QIODevice::ReadOnly) ? QStringLiteral("\n") + f.readAll().right(2000)
                                           : QString();
    }

  private:
    [[nodiscard]] QString path(const char* name) const {
        return dir_ + QLatin1Char('/') + QLatin1String(name);
    }
    [[nodiscard]] QString socket() const { return path("cups.sock"); }
    static bool write(const QString& file, const QString& text) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0;
    }

    QString dir_;
    QProcess cupsd_;
};

// cups-pdf writes into PDF/ in the home of the job's user.
QDir pdfFolder() {
    const passwd* user = ::getpwuid(::geteuid());
    return QDir(QString::fromLocal8Bit(user != nullptr ? user->pw_dir : "/root") + "/PDF");
}

QStringList printedFiles() {
    return pdfFolder().entryList({"Korvanthile*.pdf"}, QDir::Files);
}

using PrintCupsTest = AnalyzeFileTest;

TEST_F(PrintCupsTest, PrintWindowOnACupsPdfQueueGivesThePictureInTheMiddleOfThePage) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: cupsd runs the cups-pdf backend as root";
    }
    for (const char* name : {"cupsd", "lpadmin", "lpstat", "lpinfo", "pdftoppm"}) {
        if (tool(name).isEmpty()) {
            GTEST_SKIP() << name << " is missing (scripts/install-deps installs it)";
        }
    }
    if (!QFile::exists(QStringLiteral("/usr/lib/cups/backend/cups-pdf"))) {
        GTEST_SKIP() << "the cups-pdf backend is missing (printer-driver-cups-pdf)";
    }
    PrivateCups cups(dir.file(QStringLiteral("cups")));
    const QString why = cups.start();
    if (!why.isEmpty()) {
        GTEST_SKIP() << "CUPS cannot be set up here: " << why.toStdString();
    }
    analyze(tone("sine.wav", kRate * 2));
    const bool hadFolder = pdfFolder().exists();
    const QStringList before = printedFiles();
    prompts->queuePrintQueue(QString::fromLatin1(kQueue));
    window->commands().send(cmd::kPrintWindow);
    EXPECT_TRUE(prompts->messages().empty());
    ASSERT_TRUE(cups.waitForCompletedJob()) << cups.log().toStdString();
    QStringList made = printedFiles();
    made.removeIf([&before](const QString& f) { return before.contains(f); });
    ASSERT_EQ(made.size(), 1) << cups.log().toStdString();
    // The page is read from the temporary folder, and nothing stays in the user's.
    const QString pdf = dir.file(QStringLiteral("printed.pdf"));
    ASSERT_TRUE(QFile::rename(pdfFolder().filePath(made.front()), pdf));
    if (!hadFolder) {
        QDir().rmdir(pdfFolder().path());
    }
    const auto page = readPrintedPage(pdf, dir.file(QStringLiteral("printed")));
    ASSERT_TRUE(page);
    const PlotLayout& l = window->state().view.layout;
    expectCentredPicture(*page, exportWidth(l.plotWidth), l.plotHeight);
}

} // namespace
} // namespace korv
