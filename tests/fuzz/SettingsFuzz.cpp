// Feeds mutated settings files to the settings store and the stored-shortcut code, for a
// bounded time: any bytes must load without a crash, a sanitizer report or a hang, and
// what loads must survive a save and a reload unchanged. The same bytes also arrive as
// an edit made while the store runs (what does not read whole must be kept aside, byte
// for byte, before the next save replaces it) and as a file the store may not read
// (nothing written until it can, then the file wins), the latter as nobody when run as
// root, since root reads any file.
//
//   settings_fuzz CORPUS_DIR [--seconds N] [--seed N] [--hang-seconds N]
//
// Inputs start from the files in CORPUS_DIR and are mutated with a seeded generator; the
// seed is printed, and the same seed gives the same inputs in the same order, so a crash
// is reproduced with --seed. The input the store is trying is also kept in
// ./settings_fuzz-input.json. A failed check saves its input beside it and exits 1.

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "platform/JsonReader.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/ShortcutFakes.h"
#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The values settings are made of, and the ones that broke readers before.
const std::vector<QByteArray> dictionary = {
    "1e999",
    "-1e999",
    "NaN",
    "Infinity",
    "-Infinity",
    "1e-400",
    "true",
    "false",
    "null",
    "tru",
    "\\ud800",
    "\\udc00",
    "\\ud83d\\ude00",
    "\\u0000",
    "\\u12G4",
    "\\q",
    "\\",
    "\"",
    ",",
    ",]",
    ",}",
    "[",
    "]",
    "{",
    "}",
    ":",
    "9223372036854775807",
    "-9223372036854775808",
    "18446744073709551616",
    "0.1",
    "-0",
    "01",
    "1.",
    ".5",
    "1e",
    "-",
    "5e-324",
    "1.7976931348623157e308",
    "\"recentColors\":",
    "\"copyFormat\":",
    "\"hex\"",
    "\"KeyboardShortcuts_activatePicker\":",
    "\"{\\\"carbonKeyCode\\\":8,\\\"carbonModifiers\\\":2048}\"",
    "\\\"carbonKeyCode\\\":",
    "\\\"carbonModifiers\\\":",
    "[0.5, 0.25, 1]",
    "\xEF\xBB\xBF",
    "\xff\xfe",
    "\xc3\xa9",
    "\xed\xa0\x80",
    "\xf0\x9f\x98",
    "%{public}s",
    "%ld",
    "\t",
    "\r\n",
    QByteArray(1, '\0')};

const QHash<QString, qsizetype> limits = {{QStringLiteral("recentColors"), 5}};

class NullLogSink final : public LogSink {
public:
    void write(const LogRecord&) override {}
};

class Mutator {
public:
    Mutator(std::uint64_t seed, std::vector<QByteArray> corpus)
        : m_random(seed)
        , m_corpus(std::move(corpus)) {}

    QByteArray next() {
        QByteArray bytes = pick(m_corpus);
        const int steps = 1 + below(6);
        for (int i = 0; i < steps; ++i)
            mutate(bytes);
        return bytes;
    }

private:
    int below(std::size_t n) { return n == 0 ? 0 : int(m_random() % n); }
    const QByteArray& pick(const std::vector<QByteArray>& from) { return from[below(from.size())]; }

    void mutate(QByteArray& bytes) {
        const int at = below(bytes.size() + 1);
        switch (below(9)) {
        case 0: // flip a bit
            if (!bytes.isEmpty())
                bytes[at % bytes.size()] ^= char(1 << below(8));
            break;
        case 1: // a structural or random byte
            if (!bytes.isEmpty())
                bytes[at % bytes.size()] = below(2) ? "{}[]\",:\\0e-"[below(12)] : char(below(256));
            break;
        case 2: // remove a range
            bytes.remove(at, 1 + below(16));
            break;
        case 3:
        case 4: // a token from the dictionary
            bytes.insert(at, pick(dictionary));
            break;
        case 5: // replace a token-sized range by one from the dictionary
            bytes.replace(at, 1 + below(8), pick(dictionary));
            break;
        case 6: { // repeat a range
            const QByteArray range = bytes.mid(at, 1 + below(32));
            bytes.insert(below(bytes.size() + 1), range.repeated(1 + below(4)));
            break;
        }
        case 7: { // splice with another seed
            const QByteArray& other = pick(m_corpus);
            bytes = bytes.left(at) + other.mid(below(other.size() + 1));
            break;
        }
        case 8: // deep nesting
            bytes.insert(at, QByteArray(1 + below(400), below(2) ? '[' : '{'));
            break;
        }
    }

    std::mt19937_64 m_random;
    std::vector<QByteArray> m_corpus;
};

QString g_inputPath;
std::uint64_t g_seed = 0;
long g_iteration = 0;

[[noreturn]] void failed(const QByteArray& input, const std::string& what) {
    const QString path =
        QStringLiteral("settings_fuzz-failure-%1-%2.json").arg(g_seed).arg(g_iteration);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(input);
    file.close(); // exit() runs no destructor
    std::fprintf(stderr, "settings_fuzz: %s (seed %llu, input %ld, saved as %s)\n", what.c_str(),
                 static_cast<unsigned long long>(g_seed), g_iteration, qPrintable(path));
    std::exit(1);
}

void onHang(int) {
    static const char message[] =
        "settings_fuzz: an input hung; it is in settings_fuzz-input.json\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(2);
}

// JSON has one kind of number: 1 and 1.0 are the same value, as they are to the store.
// (Qt writes a large whole double such as 1.2345678901234566e17 as its digits, which
// read back as an integer of the same value.)
bool sameJson(const QJsonValue& a, const QJsonValue& b) {
    if (a.isDouble() && b.isDouble())
        return a.toDouble() == b.toDouble();
    if (a.isArray() && b.isArray()) {
        const QJsonArray x = a.toArray(), y = b.toArray();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (!sameJson(x[i], y[i]))
                return false;
        }
        return true;
    }
    if (a.isObject() && b.isObject()) {
        const QJsonObject x = a.toObject(), y = b.toObject();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.begin(); it != x.end(); ++it) {
            if (!sameJson(it.value(), y.value(it.key())))
                return false;
        }
        return true;
    }
    return a == b;
}

QJsonObject contents(const UserDefaults& store) {
    QJsonObject object;
    for (const QString& key : store.keys())
        object.insert(key, store.value(key));
    return object;
}

// The reader alone: what it reads, written by Qt and read again, is the same.
void checkReader(const QByteArray& input) {
    const JsonReadResult read = readJsonObject(input, limits);
    if (!read.object)
        return;
    const QByteArray written = QJsonDocument(*read.object).toJson(QJsonDocument::Compact);
    const JsonReadResult again = readJsonObject(written, limits);
    if (!again.object || !sameJson(*again.object, *read.object) || !again.dropped.isEmpty())
        failed(input, "what the reader read changed when written and read again: " +
                          written.left(200).toStdString());
}

// A stored shortcut that decodes encodes to itself.
void checkShortcuts(const QByteArray& input, const UserDefaults& store) {
    for (const QString& key : store.keys()) {
        const QJsonValue value = store.value(key);
        std::optional<KeyboardShortcuts::Shortcut> shortcut;
        if (value.isString())
            shortcut = KeyboardShortcuts::Shortcut::fromJson(value.toString().toUtf8());
        else if (value.isObject())
            shortcut = KeyboardShortcuts::Shortcut::fromJson(value.toObject());
        if (shortcut && KeyboardShortcuts::Shortcut::fromJson(shortcut->toJson()) != shortcut)
            failed(input, "a shortcut did not survive its JSON: " + key.toStdString());
    }
}

// The bytes of every copy the store kept aside in `folder`.
QList<QByteArray> copiesAside(const QString& folder) {
    QList<QByteArray> copies;
    for (const QString& name :
         QDir(folder).entryList({QStringLiteral("defaults.json.corrupt-*")}, QDir::Files)) {
        QFile file(folder + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            copies.append(file.readAll());
    }
    return copies;
}

void clearFolder(const QString& folder) {
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        QFile::remove(folder + QLatin1Char('/') + name);
}

// `input` written over a readable file while the store runs, then a change saved.
void runOutsideEdit(const QByteArray& input, const QString& folder) {
    clearFolder(folder);
    const QString path = folder + QStringLiteral("/defaults.json");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(R"({"copyFormat": "hex"})") < 0)
            failed(input, "could not write the starting file");
    }
    UserDefaults store(path, UserDefaults::ReadLimits{qint64(64) << 20, limits});
    {
        // Replaced as editors do, so that it is a new file even within the clock's tick.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size() || !file.commit())
            failed(input, "could not write the input");
    }
    store.setValue(QStringLiteral("settingsFuzzProbe"), true);
    const JsonReadResult read = readJsonObject(input, limits);
    const bool whole = read.object && read.dropped.isEmpty();
    if (!whole && !copiesAside(folder).contains(input))
        failed(input, "an outside edit the store could not read whole was replaced without a copy");
    if (UserDefaults(path).value(QStringLiteral("settingsFuzzProbe")) != QJsonValue(true))
        failed(input, "the change after an outside edit was not saved");
}

// `input` in a file of mode 0000: defaults, nothing written; readable again, it wins.
void runUnreadable(const QByteArray& input, const QString& folder) {
    clearFolder(folder);
    const QString path = folder + QStringLiteral("/defaults.json");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
            failed(input, "could not write the input");
    }
    if (::chmod(QFile::encodeName(path).constData(), 0) != 0 || !handToUnprivileged(path))
        failed(input, "could not make the input unreadable");
    std::string problem;
    const int status = runUnprivileged([&] {
        const auto fail = [&](const char* what) {
            std::fprintf(stderr, "settings_fuzz: %s\n", what);
            return false;
        };
        UserDefaults store(path, UserDefaults::ReadLimits{qint64(64) << 20, limits});
        if (!store.notice() || !store.keys().isEmpty())
            return fail("an unreadable file did not leave the store on defaults");
        store.setValue(QStringLiteral("settingsFuzzProbe"), true);
        const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        if (left != QStringList{QStringLiteral("defaults.json")} ||
            QFileInfo(path).size() != input.size())
            return fail("something was written beside or over an unreadable file");
        if (::chmod(QFile::encodeName(path).constData(), 0600) != 0)
            return fail("could not make the file readable again");
        store.setValue(QStringLiteral("settingsFuzzProbe"), false);
        if (store.notice())
            return fail("a readable file still left the store without saving");
        if (UserDefaults(path).value(QStringLiteral("settingsFuzzProbe")) != QJsonValue(false))
            return fail("the change after the file became readable was not saved");
        return true;
    });
    if (status != 0)
        failed(input, "the unreadable file's check failed (status " + std::to_string(status) + ")");
}

void runStore(const QByteArray& input, const QString& folder) {
    const QString path = folder + QStringLiteral("/defaults.json");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
            failed(input, "could not write the input");
    }
    QJsonObject loaded;
    {
        UserDefaults store(path, UserDefaults::ReadLimits{qint64(64) << 20, limits});
        checkShortcuts(input, store);

        // The application's use: its name, its hot key, the names found in the file.
        FakeHotKeyService hotKeys;
        NotificationCenter notifications;
        FakeScheduler scheduler;
        const FakeKeyboardLayout layout = usLayout();
        KeyboardShortcuts::Registry registry({hotKeys, store, notifications, scheduler, layout});
        const auto name =
            registry.makeName(QStringLiteral("activatePicker"),
                              KeyboardShortcuts::Shortcut(KeyboardShortcuts::Key::c,
                                                          KeyboardShortcuts::ModifierFlag::option));
        registry.addKeyUpHandler(name, [] {});
        scheduler.runDue();
        for (const auto& stored : registry.storedNames()) {
            if (const auto shortcut = registry.getShortcut(stored))
                static_cast<void>(shortcut->description(layout));
        }

        // Saved as it stands: a change written and taken back.
        store.setValue(QStringLiteral("settingsFuzzProbe"), true);
        store.removeValue(QStringLiteral("settingsFuzzProbe"));
        loaded = contents(store);
    }
    const UserDefaults reloaded(path, UserDefaults::ReadLimits{qint64(64) << 20, limits});
    if (!sameJson(contents(reloaded), loaded))
        failed(input,
               "the settings changed across a save and a reload: " +
                   QJsonDocument(loaded).toJson(QJsonDocument::Compact).left(200).toStdString());
    const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left) {
        if (name.contains(QStringLiteral(".tmp-")))
            failed(input, "a temporary was left behind: " + name.toStdString());
        if (name != QStringLiteral("defaults.json"))
            QFile::remove(folder + QLatin1Char('/') + name);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 2) {
        std::fprintf(
            stderr,
            "usage: settings_fuzz CORPUS_DIR [--seconds N] [--seed N] [--hang-seconds N]\n");
        return 2;
    }
    const auto option = [&](const char* flag, qint64 fallback) {
        const qsizetype at = arguments.indexOf(QLatin1String(flag));
        return at > 0 && at + 1 < arguments.size() ? arguments[at + 1].toLongLong() : fallback;
    };
    const auto seconds = std::chrono::seconds(option("--seconds", 20));
    g_seed = std::uint64_t(
        option("--seed", std::chrono::system_clock::now().time_since_epoch().count()));
    const unsigned hangSeconds = unsigned(option("--hang-seconds", 10));

    std::vector<QByteArray> corpus;
    const QDir corpusDir(arguments[1]);
    for (const QString& name : corpusDir.entryList(QDir::Files, QDir::Name)) {
        QFile file(corpusDir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            corpus.push_back(file.readAll());
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "settings_fuzz: no seed files in %s\n", argv[1]);
        return 2;
    }
    std::printf("settings_fuzz: seed %llu, %zu seed files, %lld s\n",
                static_cast<unsigned long long>(g_seed), corpus.size(),
                static_cast<long long>(seconds.count()));
    std::fflush(stdout);

    Logger::setSink(std::make_shared<NullLogSink>());
    std::signal(SIGALRM, onHang);
    // In memory where there is such a folder: every save flushes to disk.
    const bool shm = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    QTemporaryDir folder(shm ? QStringLiteral("/dev/shm/settings_fuzz-XXXXXX") : QString());
    // The unreadable file's checks run as nobody when run as root: a folder of theirs.
    const QString unprivilegedFolder = folder.path() + QStringLiteral("/unprivileged");
    if (::chmod(QFile::encodeName(folder.path()).constData(), 0711) != 0 ||
        !QDir().mkpath(unprivilegedFolder) || !handToUnprivileged(unprivilegedFolder)) {
        std::fprintf(stderr, "settings_fuzz: cannot make %s\n", qPrintable(unprivilegedFolder));
        return 2;
    }
    const QString storeFolder = folder.path() + QStringLiteral("/store");
    QDir().mkpath(storeFolder);
    // A fork per input costs more than the store: every so many inputs.
    constexpr long unreadableEvery = 20;
    Mutator mutator(g_seed, corpus);
    constexpr int readerInputsPerStore = 30;
    long readerInputs = 0;
    const auto deadline = std::chrono::steady_clock::now() + seconds;
    // The seeds themselves first, then mutations until the time is up.
    for (g_iteration = 0; std::chrono::steady_clock::now() < deadline; ++g_iteration) {
        const QByteArray input =
            g_iteration < long(corpus.size()) ? corpus[g_iteration] : mutator.next();
        QFile last(QStringLiteral("settings_fuzz-input.json"));
        if (last.open(QIODevice::WriteOnly))
            last.write(input);
        last.close();
        ::alarm(hangSeconds);
        checkReader(input);
        runStore(input, storeFolder);
        runOutsideEdit(input, storeFolder);
        if (g_iteration % unreadableEvery == 0)
            runUnreadable(input, unprivilegedFolder);
        // The reader alone is far cheaper than a store with its files: more inputs.
        for (int i = 0; i < readerInputsPerStore; ++i) {
            const QByteArray more = mutator.next();
            readerInputs += 1;
            checkReader(more);
        }
        ::alarm(0);
    }
    std::printf("settings_fuzz: %ld inputs through the store and as outside edits, %ld of them "
                "unreadable, %ld more through the reader, no fault\n",
                g_iteration, (g_iteration + unreadableEvery - 1) / unreadableEvery, readerInputs);
    return 0;
}
