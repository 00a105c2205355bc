// What the benchmarks share: files, programs run, timings and the scratch space they work in.
#include "support.h"

#include "app/qt/frm_main.h"
#include "diagnostics/logs.h"
#include "migration/migration_engine.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QToolButton>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

void fail(const std::string& what) { throw std::runtime_error(what); }

void writeFile(const std::string& path, const std::string& data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot create " + path + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            fail("cannot write " + path + ": " + std::strerror(errno));
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) fail("cannot close " + path);
}

std::string readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open " + path + ": " + std::strerror(errno));
    std::string data;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            fail("cannot read " + path);
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

void warm(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open " + path + ": " + std::strerror(errno));
    char buffer[1 << 16];
    while (::read(fd, buffer, sizeof buffer) > 0) {}
    ::close(fd);
}

pid_t spawn(const std::vector<std::string>& args, const std::string& stdoutPath, int* stdinPipe) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (!stdoutPath.empty())
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                           0644);
    int pipeFds[2] = {-1, -1};
    if (stdinPipe) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) fail("cannot make a pipe");
        ::posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
    }
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (stdinPipe) {
        ::close(pipeFds[0]);
        *stdinPipe = pipeFds[1];
    }
    if (rc != 0) fail("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

bool reapedOk(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void run(const std::vector<std::string>& args) {
    if (!reapedOk(spawn(args))) fail("command failed: " + args[0]);
}

std::string onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    fail(program + " not found on PATH");
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

Summary summarize(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median};
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void emptyFolder(const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

// Writing back what the previous run left dirty keeps it from landing in the
// next. ext4 without a journal makes every new inode skip those deleted in
// the last ~30 s, so a pause lets each run start as on a destination nobody
// has just cleaned up.
double settleSeconds = 0;
void settle() {
    ::sync();
    if (settleSeconds > 0) ::usleep(static_cast<useconds_t>(settleSeconds * 1e6));
}

namespace {

// The share of all cores busy over a quarter second while this program
// sleeps; with two cores, a build next to the run spoils the figures.
std::optional<double> othersBusyShare() {
    const auto sample = [](uint64_t& busy, uint64_t& total) {
        const std::string stat = readFile("/proc/stat");
        unsigned long long v[8] = {};
        if (std::sscanf(stat.c_str(), "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5], &v[6], &v[7]) != 8)
            return false;
        total = v[0] + v[1] + v[2] + v[3] + v[4] + v[5] + v[6] + v[7];
        busy = total - v[3] - v[4];
        return true;
    };
    uint64_t b0, t0, b1, t1;
    if (!sample(b0, t0)) return std::nullopt;
    ::usleep(250'000);
    if (!sample(b1, t1) || t1 == t0) return std::nullopt;
    return double(b1 - b0) / double(t1 - t0);
}

}  // namespace

void awaitQuiet(double patience, const char* when) {
    const auto start = Clock::now();
    std::optional<double> share;
    while ((share = othersBusyShare()) && *share > 0.15 && since(start) < patience) {}
    if (share && *share > 0.15)
        std::printf("  note: other processes kept %.0f%% of the CPUs busy %s; timings are unreliable\n", 100 * *share,
                    when);
    else if (since(start) > 1)
        std::printf("  (waited %.0f s for other processes to finish %s)\n", since(start), when);
}

long statusKiB(const char* field) {
    const std::string status = readFile("/proc/self/status");
    const auto at = status.find(std::string(field) + ":");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + std::strlen(field) + 1);
}

bool resetPeak() {
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return ok;
}

std::string fileSystemName(const std::string& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) return "?";
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x01021994: return "tmpfs";
    case 0xEF53: return "ext4";
    case 0x58465342: return "xfs";
    case 0x9123683E: return "btrfs";
    default: return "other";
    }
}

size_t processCount() {
    size_t processes = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) ++processes;
    }
    return processes;
}

Scratch::Scratch(const std::string& parent) {
    std::string pattern = parent + "/jor-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) fail("cannot create a scratch folder in " + parent);
    path_ = pattern;
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string makeProgramFolder(const Options& o, const Scratch& scratch, const std::string& name) {
    const std::string folder = scratch / name;
    fs::create_directories(folder);
    const std::string decompressor = o.programFolder + "/gunzip.exe";
    if (::access(decompressor.c_str(), X_OK) != 0) fail(decompressor + " is missing; build target gunzip_exe");
    fs::copy_file(decompressor, folder + "/gunzip.exe", fs::copy_options::overwrite_existing);
    warm(folder + "/gunzip.exe");
    return folder;
}

// ------------------------------------------------------------ engine runs

namespace {

class FakeWindow : public jor::WindowPort {
public:
    std::string source, dest, temp, pacs;
    bool armed = false;
    int32_t progressMax = 0, progressValue = 0;
    std::string progressText, statusText;
    std::vector<Message> messages;

    std::string sourceText() const override { return source; }
    std::string destText() const override { return dest; }
    std::string tempText() const override { return temp; }
    std::string pacsText() const override { return pacs; }
    int32_t debugValue() const override { return 0; }

    void setProgressMax(int32_t v) override { progressMax = v; }
    void setProgressValue(int32_t v) override { progressValue = v; }
    void setProgressText(const std::string& t) override { progressText = t; }
    void setStatusText(const std::string& t) override { statusText = t; }
    void setMigrierenEnabled(bool) override {}
    void setBeendenEnabled(bool) override {}
    void armTimer() override { armed = true; }
    void disarmTimer() override { armed = false; }
    void showMessage(jor::MessageIcon icon, const std::string& title, const std::string& text) override {
        messages.push_back({icon, title, text});
    }
    // The real window pumps its event loop here; the cost belongs to the run.
    bool askQuestion(const std::string&, const std::string&) override { return true; }
    size_t askChoice(const std::string&, const std::string&, const std::vector<std::string>&) override { return 0; }
    jor::RunRequest yield() override {
        QCoreApplication::processEvents();
        return jor::RunRequest::GoOn;
    }
};

// Closes every message box as it comes up and keeps what it said.
class BoxCloser : public QObject {
public:
    std::vector<Message> messages;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto* box = qobject_cast<QMessageBox*>(object);
        if (!box) return false;
        messages.push_back(
            {box->icon() == QMessageBox::Critical ? jor::MessageIcon::Stop : jor::MessageIcon::Information,
             box->windowTitle().toStdString(), box->text().toStdString()});
        QMetaObject::invokeMethod(box, &QMessageBox::accept, Qt::QueuedConnection);
        return false;
    }
};

EngineRun runFake(const std::string& source, const std::string& dest, const std::string& temp, const std::string& pacs,
                  const std::string& programFolder, const std::function<void()>& beforeClick) {
    FakeWindow window;
    window.source = source;
    window.dest = dest;
    window.temp = temp;
    window.pacs = pacs;
    const jor::Logs logs(programFolder, [] { return 0; });
    jor::MigrationEngine engine(window, logs, programFolder);

    EngineRun result;
    if (beforeClick) beforeClick();
    const double cpu0 = ownCpuSeconds();
    const auto start = Clock::now();
    engine.StartRun();
    if (window.armed) engine.tmrMig_Timer();
    result.wall = since(start);
    result.cpu = ownCpuSeconds() - cpu0;
    result.messages = std::move(window.messages);
    return result;
}

EngineRun runQt(const std::string& source, const std::string& dest, const std::string& temp, const std::string& pacs,
                const std::string& programFolder, const std::function<void()>& beforeClick) {
    jor::app::frmMain window(programFolder);
    window.findChild<QLineEdit*>("txtSource")->setText(QString::fromStdString(source));
    window.findChild<QLineEdit*>("txtDest")->setText(QString::fromStdString(dest));
    window.findChild<QLineEdit*>("txtTemp")->setText(QString::fromStdString(temp));
    window.findChild<QComboBox*>("cboPACS")->setEditText(QString::fromStdString(pacs));
    window.show();
    // Shown and painted before the click, as a user would see it.
    QElapsedTimer shown;
    shown.start();
    while (shown.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    BoxCloser closer;
    qApp->installEventFilter(&closer);
    EngineRun result;
    if (beforeClick) beforeClick();
    const double cpu0 = ownCpuSeconds();
    const auto start = Clock::now();
    window.form().DispatchToolbarButton(1);
    while (window.engine().running()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    result.wall = since(start);
    result.cpu = ownCpuSeconds() - cpu0;
    qApp->removeEventFilter(&closer);
    result.messages = std::move(closer.messages);
    window.close();
    return result;
}

}  // namespace

EngineRun runEngine(WindowKind kind, const std::string& source, const std::string& dest, const std::string& temp,
                    const std::string& pacs, const std::string& programFolder,
                    const std::function<void()>& beforeClick) {
    return kind == WindowKind::Qt ? runQt(source, dest, temp, pacs, programFolder, beforeClick)
                                  : runFake(source, dest, temp, pacs, programFolder, beforeClick);
}

const char* windowName(WindowKind kind) { return kind == WindowKind::Qt ? "Qt window" : "fake window"; }

// ------------------------------------------------------------------ checks

void Checks::expect(bool ok, const std::string& what) {
    if (ok) return;
    ++failures;
    std::printf("  CHECK FAILED: %s\n", what.c_str());
}

void checkReport(Checks& checks, const EngineRun& run, size_t expected) {
    const std::string n = std::to_string(expected);
    const std::string wanted = n + " von " + n + " Dateien konnten erfolgreich migriert werden.";
    const bool ok = run.messages.size() == 1 && run.messages[0].icon == jor::MessageIcon::Information &&
                    run.messages[0].text.starts_with(wanted);
    std::string seen;
    for (const auto& m : run.messages) seen += " [" + m.title + ": " + m.text.substr(0, 80) + "]";
    checks.expect(ok, "report \"" + wanted + "\" expected, got" + (seen.empty() ? " nothing" : seen));
}

void checkErrorLog(Checks& checks, const std::string& programFolder) {
    const std::string path = programFolder + "/Logs/Error.txt";
    if (!fs::exists(path)) return;
    const std::string log = readFile(path);
    checks.expect(false, "error log is not empty:\n" + log.substr(0, 2000));
    fs::remove(path);
}

}  // namespace bench
