#pragma once
// A private PulseAudio server with a null sink (and any other modules asked for): a real, paced
// sound device without a sound card. Clients of this process find it through PULSE_SERVER; it
// is ended by its own process id. For the tests and the benchmarks alike (no event loop needed).

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace korv::test {

// ALSA's default device through the pulse plugin.
inline constexpr const char* ALSA_PULSE_DEVICE =
    "pcm.!default { type pulse }\nctl.!default { type pulse }\n";

class PulseProcess {
  public:
    // `modules`: more modules to load, each with its arguments ("module-sine-source
    // frequency=1000").
    explicit PulseProcess(std::vector<std::string> modules = {}) : modules_(std::move(modules)) {}
    ~PulseProcess() { stop(); }
    PulseProcess(const PulseProcess&) = delete;
    PulseProcess& operator=(const PulseProcess&) = delete;

    void start() {
        namespace fs = std::filesystem;
        dir_ = fs::temp_directory_path() / ("korv-pulse-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const fs::path socket = dir_ / "native";
        // A client of ours must never start a server of its own that would outlive the test.
        std::ofstream(dir_ / "client.conf") << "autospawn = no\n";
        ::setenv("PULSE_CLIENTCONFIG", (dir_ / "client.conf").c_str(), 1);
        ::setenv("PULSE_SERVER", ("unix:" + socket.string()).c_str(), 1);

        QStringList args{"-n",
                         "--daemonize=no",
                         "--exit-idle-time=-1",
                         "--use-pid-file=no",
                         QString::fromStdString("--load=module-native-protocol-unix "
                                                "auth-anonymous=1 socket=" +
                                                socket.string()),
                         "--load=module-null-sink"};
        for (const std::string& m : modules_) {
            args.push_back(QString::fromStdString("--load=" + m));
        }
        // The server keeps its runtime files and cookie in the private folder.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir_.string()));
        env.insert("HOME", QString::fromStdString(dir_.string()));
        const std::string log = (dir_ / "server.log").string();
        server_.setProcessEnvironment(env);
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.setStandardOutputFile(QString::fromStdString(log));
        server_.start("pulseaudio", args);
        if (!server_.waitForStarted()) {
            error_ = "pulseaudio could not be started (" + server_.errorString().toStdString() +
                     "); scripts/install-deps installs it";
            return;
        }
        // Ready once its socket is there; a server that ends first has failed.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(socket)) {
            if (server_.waitForFinished(20)) {
                error_ = "pulseaudio ended at start-up; its log: " + log;
                return;
            }
            if (std::chrono::steady_clock::now() > end) {
                error_ = "pulseaudio made no socket within 10 s; its log: " + log;
                return;
            }
        }
    }

    void stop() {
        if (server_.state() != QProcess::NotRunning) {
            server_.terminate(); // SIGTERM to its process id
            if (!server_.waitForFinished(5000)) {
                server_.kill();
                server_.waitForFinished(5000);
            }
        }
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
            dir_.clear();
        }
    }

    [[nodiscard]] bool ready() const {
        return error_.empty() && server_.state() == QProcess::Running;
    }
    [[nodiscard]] const std::string& error() const { return error_; }

  private:
    std::vector<std::string> modules_;
    std::filesystem::path dir_;
    QProcess server_;
    std::string error_;
};

} // namespace korv::test
