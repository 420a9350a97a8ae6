// tessarel-admin: makes and looks after repositories on this machine.
#include "sample_course.h"

#include "tessarel/admin.h"
#include "tessarel/repository_store.h"

#include "platform/folders.h"
#include "platform/profile.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sys/random.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace lf::tessarel;

namespace {

const char* kUsage = R"(usage: tessarel-admin COMMAND REPOSITORY [ARGS] [OPTIONS]

  init REPO [--server CONNINFO]    make an empty repository; with --server, in a PostgreSQL database
                                   (a libpq connection string or URI), listed in tessarel.ini as
                                   REPO=postgresql:CONNINFO; CONNINFO holds no password (put it in
                                   ~/.pgpass or the file PGPASSFILE names)
  demo REPO [--server CONNINFO] [--user NAME] [--password-file FILE]
                                   make a repository with a sample course and one user (default
                                   demo; the password from FILE, else a random one it prints)
  upgrade REPO                     bring the repository's schema to this program's version
  user add REPO USER [--password-file FILE]
                                   add a user (the password from FILE, else a prompt or stdin)
  user passwd REPO USER [--password-file FILE]
                                   change a user's password (the new one, as for user add)
  user list REPO                   list the users
  mkcabinet REPO NAME [--private]  make a cabinet (private: seen by its owner, --user)
  mkdir REPO /PATH                 make a folder and any missing folders above it
  import REPO LOCALDIR /PATH [--verbose]
                                   import a local folder tree into a repository folder, all of it
                                   or nothing; symbolic links are skipped, and named
  ls REPO /PATH                    list a folder
  query REPO "TQL"                 run a query and print its rows
  export REPO /PATH LOCALDIR [--verbose]
                                   export a document, or a folder tree, into a local folder
  checkout REPO /PATH/NAME LOCALDIR [--verbose]
  checkin REPO /PATH/NAME [FILE] [--verbose]
                                   check in (FILE, else the checked-out file)
  cancel-checkout REPO /PATH/NAME
  versions REPO /PATH/NAME         list the versions of a document
  fsck REPO [--verify] [--repair]  find content without metadata and metadata without content
  log REPO [/PATH]                 print a server repository's audit trail (time, who, action,
                                   path, detail, one line each, tab-separated), all of it or that
                                   of the object at PATH and of what lies below it
  help, --help                     print this text

REPO is a repository name (tessarel.ini, else the data folder's tessarel/NAME), a folder path or
postgresql:CONNINFO. Every command from mkcabinet to versions acts as a user: --user NAME (default
tsadmin) owns what it makes and holds its locks. The tool works on the repository's files
directly, or on a server repository as the connection string's role (its administrator), so it
needs no password of the user; with --password-file FILE the password in FILE (its first line) is
checked against the user's first, and a wrong one fails (exit 1) before anything is done (on a
server the tool then logs in as that user and works with the user's rights only).
--verbose prints a progress line per file. Passwords never come from the command line. An option
a command does not take is refused (exit 2); "--" ends the options.
)";

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool flag(const std::string& f) const { return options.count(f) != 0; }
    std::string option(const std::string& f, const std::string& def = "") const {
        auto it = options.find(f);
        return it == options.end() ? def : it->second;
    }
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every option there is; those that take a value take the next argument.
const std::map<std::string, bool> kOptionTakesValue = {
    {"--user", true},    {"--password-file", true}, {"--verbose", false}, {"--private", false},
    {"--verify", false}, {"--repair", false},       {"--server", true},
};

struct CommandInfo {
    size_t words;   // "user add" is two
    size_t minArgs; // positional arguments after the command's words
    size_t maxArgs;
    std::vector<std::string> options; // the options it takes
};

const std::vector<std::string> kActing = {"--user", "--password-file"};
std::vector<std::string> acting(std::initializer_list<std::string> more) {
    std::vector<std::string> out = kActing;
    out.insert(out.end(), more);
    return out;
}

const std::map<std::string, CommandInfo>& commands() {
    static const std::map<std::string, CommandInfo> table = {
        {"help", {1, 0, 0, {}}},
        {"init", {1, 1, 1, {"--server"}}},
        {"demo", {1, 1, 1, {"--server", "--user", "--password-file"}}},
        {"upgrade", {1, 1, 1, {}}},
        {"user add", {2, 2, 2, {"--password-file"}}},
        {"user passwd", {2, 2, 2, {"--password-file"}}},
        {"user list", {2, 1, 1, {}}},
        {"mkcabinet", {1, 2, 2, acting({"--private"})}},
        {"mkdir", {1, 2, 2, acting({})}},
        {"import", {1, 3, 3, acting({"--verbose"})}},
        {"ls", {1, 2, 2, acting({})}},
        {"query", {1, 2, 2, acting({})}},
        {"export", {1, 3, 3, acting({"--verbose"})}},
        {"checkout", {1, 3, 3, acting({"--verbose"})}},
        {"checkin", {1, 2, 3, acting({"--verbose"})}},
        {"cancel-checkout", {1, 2, 2, acting({})}},
        {"versions", {1, 2, 2, acting({})}},
        {"fsck", {1, 1, 1, {"--verify", "--repair"}}},
        {"log", {1, 1, 2, {}}},
    };
    return table;
}

// Splits the arguments into options and positional arguments, and checks both against what the
// command takes: a mistyped or misplaced option is refused rather than ignored.
Args parseArgs(int argc, char** argv) {
    Args a;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (optionsEnd || s.size() < 2 || s[0] != '-') {
            a.positional.push_back(s);
            continue;
        }
        if (s == "--") {
            optionsEnd = true;
            continue;
        }
        if (s == "--password" || s.rfind("--password=", 0) == 0)
            throw UsageError(
                "passwords are never taken from the command line; use --password-file or the prompt");
        const auto known = kOptionTakesValue.find(s);
        if (known == kOptionTakesValue.end())
            throw UsageError("unknown option " + s);
        if (a.options.count(s))
            throw UsageError(s + " is given twice");
        std::string value = "1";
        if (known->second) {
            if (i + 1 >= argc || std::string(argv[i + 1]).rfind("--", 0) == 0)
                throw UsageError(s + " needs a value");
            value = argv[++i];
        }
        a.options[s] = value;
    }
    if (a.positional.empty())
        throw UsageError("no command");
    std::string name = a.positional[0];
    if (name == "user") {
        if (a.positional.size() < 2)
            throw UsageError("user needs add, passwd or list");
        name += " " + a.positional[1];
    }
    const auto cmd = commands().find(name);
    if (cmd == commands().end())
        throw UsageError("unknown command " + name);
    const CommandInfo& info = cmd->second;
    for (const auto& [option, value] : a.options) {
        if (std::find(info.options.begin(), info.options.end(), option) == info.options.end())
            throw UsageError(name + " does not take " + option);
    }
    const size_t args = a.positional.size() - info.words;
    if (args < info.minArgs)
        throw UsageError("missing arguments for " + name);
    if (args > info.maxArgs)
        throw UsageError("too many arguments for " + name + ": " + a.positional[info.words + info.maxArgs]);
    return a;
}

std::string readPassword(const Args& a, bool confirm) {
    if (a.flag("--password-file")) {
        std::ifstream in(a.option("--password-file"));
        if (!in)
            fail(code::FileError, "Cannot read the password file " + a.option("--password-file"));
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    const bool tty = ::isatty(STDIN_FILENO);
    auto ask = [&](const char* prompt) {
        termios old{};
        if (tty) {
            std::fprintf(stderr, "%s", prompt);
            tcgetattr(STDIN_FILENO, &old);
            termios quiet = old;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
        }
        std::string line;
        std::getline(std::cin, line);
        if (tty) {
            tcsetattr(STDIN_FILENO, TCSANOW, &old);
            std::fprintf(stderr, "\n");
        }
        return line;
    };
    std::string pw = ask("Password: ");
    if (confirm && tty && ask("Password again: ") != pw)
        fail(code::BadArgument, "The passwords differ");
    return pw;
}

class PrintingMonitor : public ITsOperationMonitor {
public:
    explicit PrintingMonitor(bool verbose) : verbose_(verbose) {}
    int progressReport(const std::shared_ptr<TsOperation>& op, int opPercent, const TsOperationStepPtr& step,
                       int stepPercent, const std::shared_ptr<TsOperationNode>&) override {
        if (verbose_) {
            std::printf("progress %s %d%% %s %d%%\n", op->name().c_str(), opPercent, step->name().c_str(),
                        stepPercent);
            std::fflush(stdout);
        }
        return 1;
    }
    int reportError(const TsOperationErrorPtr& error) override {
        std::fprintf(stderr, "error: [%s] %s\n", error->code().c_str(), error->getMessage().c_str());
        return 1;
    }
    bool getYesNoAnswer(const std::string&) override { return true; }

private:
    bool verbose_;
};

// A session acting as --user; with --password-file, only once the password is found to be theirs.
TsSessionPtr actingSession(const std::string& repo, const Args& a) {
    const std::string location = repositoryLocation(repo);
    const std::string user = a.option("--user", "tsadmin");
    if (a.flag("--password-file") && serverConnection(location)) {
        // The server checks the password: the tool logs in as the user, with the user's rights.
        std::shared_ptr<RepositoryStore> store;
        try {
            store = RepositoryStore::login(location, user, readPassword(a, false));
        } catch (const TsException& e) {
            if (e.code() != code::LoginRefused)
                throw;
            fail(code::LoginRefused, "The password in the password file " + a.option("--password-file") +
                                         " is not the password of the user '" + user + "': " + e.message());
        }
        return std::make_shared<TsSession>(store, repositoryName(repo), user, false);
    }
    auto store = openRepository(location);
    if (a.flag("--password-file"))
        checkUserPassword(*store, user, readPassword(a, false),
                          "the password file " + a.option("--password-file"));
    return openAdminSession(store, repositoryName(repo), user);
}

TsObjectPtr objectAt(const TsSessionPtr& s, const std::string& path) {
    auto obj = s->objectByPath(path);
    if (!obj)
        fail(code::ObjectNotFound, "There is no object " + tql::quoteString(path));
    return obj;
}

// Exports a repository folder tree, folder by folder from a list of its own (a deep tree costs
// no stack); returns the number of failures. A folder that cannot be read, or a row of it that is
// damaged, is a failure named on the error output; the other folders are still exported.
int exportTree(const TsSessionPtr& s, const TsFolderPtr& top, const fs::path& topLocal, bool verbose) {
    auto monitor = std::make_shared<PrintingMonitor>(verbose);
    TsClient client;
    int failures = 0;
    auto failed = [&](const TsException& e) {
        std::fprintf(stderr, "error: [%s] %s\n", e.code().c_str(), e.message().c_str());
        ++failures;
    };
    std::map<std::string, ObjectRecord> soundFolders;
    std::vector<std::pair<TsFolderPtr, fs::path>> pending{{top, topLocal}};
    while (!pending.empty()) {
        auto [folder, local] = std::move(pending.back());
        pending.pop_back();
        auto op = client.newExportOperation();
        op->setDestinationDirectory(local.string());
        std::vector<std::pair<std::string, TsFolderPtr>> subfolders;
        try {
            checkFolderLinks(s->store().storage(), folder->record(), s->viewer(), soundFolders);
            auto rows = folder->contents("r_object_id,object_name,r_object_type");
            while (rows->next()) {
                // Each row on its own: a damaged one fails, the rest of the folder goes on.
                try {
                    auto object = s->objectById(rows->getString("r_object_id"));
                    if (object->type() == "ts_document") {
                        op->add(object);
                    } else if (auto sub = std::dynamic_pointer_cast<TsFolder>(object)) {
                        subfolders.push_back({rows->getString("object_name"), sub});
                    } else {
                        fail(code::Damaged, "The repository is damaged: " + describeObject(object->record()) +
                                                " has the unknown type " + tql::quoteString(object->type()));
                    }
                } catch (const TsException& e) {
                    failed(e);
                }
            }
            rows->close();
        } catch (const TsException& e) {
            failed(e);
            continue;
        }
        op->setMonitor(monitor);
        failures += op->execute() ? 0 : op->errors()->count();
        for (const auto& n : op->nodes()) {
            if (n->succeeded())
                std::printf("%s\n", n->localPath().c_str());
        }
        std::vector<std::pair<TsFolderPtr, fs::path>> next;
        for (const auto& [name, sub] : subfolders) {
            if (!isSafeFileName(name)) {
                std::fprintf(stderr, "error: the folder name %s is not a safe file name\n",
                             tql::quoteString(name).c_str());
                ++failures;
                continue;
            }
            next.emplace_back(sub, local / name);
        }
        // In name order: the last pushed is exported first.
        pending.insert(pending.end(), std::make_move_iterator(next.rbegin()),
                       std::make_move_iterator(next.rend()));
    }
    return failures;
}

std::string randomPassword() {
    static const char* chars = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    unsigned char b[12];
    if (::getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b))
        fail(code::StorageError, "No random numbers available");
    std::string out;
    for (unsigned char c : b)
        out += chars[c % 56];
    return out;
}

// A repository made under a name goes into tessarel.ini when the file does not list it yet. A
// server repository is only found through the file, which is made when missing (with the
// repositories of the data folder, which the program would otherwise list without it). The file
// names servers and their users: it is its owner's alone (0600), made so or narrowed when written.
void listRepository(const std::string& repo, const std::string& location) {
    if (repo.find('/') != std::string::npos)
        return;
    const QString ini = lf::platform::profileFilePath("tessarel.ini");
    const bool exists = QFileInfo::exists(ini);
    if (!exists && !serverConnection(location))
        return;
    auto list = [&](const std::string& name, const std::string& where) {
        QString error;
        if (!lf::platform::writeOwnerOnlyProfileString("Repositories", QString::fromStdString(name),
                                                       QString::fromStdString(where), ini, &error))
            fail(code::FileError,
                 "Cannot list " + name + " in " + ini.toStdString() + ": " + error.toStdString());
    };
    if (!exists) {
        const auto listed = TsLocalClient().repositoryList();
        for (int i = 0; i < listed->count(); ++i)
            list(listed->nameAt(i), listed->locationAt(i));
    }
    if (lf::platform::GetPrivateProfileString("Repositories", QString::fromStdString(repo), "", ini)
            .isEmpty())
        list(repo, location);
}

int run(const Args& a) {
    const std::string cmd = a.positional[0];
    const bool verbose = a.flag("--verbose");
    if (cmd == "help") {
        std::printf("%s", kUsage);
        return 0;
    }
    const std::string repo = a.positional[1];
    if (cmd == "init" || cmd == "demo") {
        const bool server = a.flag("--server");
        if (server && repo.find('/') != std::string::npos)
            throw UsageError("with --server, REPO is the name the repository is listed under");
        // The connection string is kept in tessarel.ini and is seen in the process list: a
        // password has no place in it, and libpq finds one in the user's password file.
        if (server && connectionHasPassword(a.option("--server")))
            fail(code::BadArgument,
                 "The connection string given to --server holds a password, which would be "
                 "kept in tessarel.ini and seen by anyone listing processes: leave it out and "
                 "put it in ~/.pgpass (or the file PGPASSFILE names), where libpq finds it");
        const std::string location = server ? "postgresql:" + a.option("--server") : repositoryLocation(repo);
        std::shared_ptr<RepositoryStore> store;
        if (server) {
            store = initRepository(location);
            std::printf("Made repository %s on the PostgreSQL server\n", repo.c_str());
        } else {
            std::string folder = location.rfind("sqlite:", 0) == 0 ? location.substr(7) : location;
            if (fs::exists(fs::path(folder) / "repository.db"))
                fail(code::NameConflict, "There is already a repository at " + folder);
            store = initRepository(location);
            std::printf("Made repository %s at %s\n", repositoryName(repo).c_str(), folder.c_str());
        }
        listRepository(repo, server ? location : "sqlite:" + store->folder());
        if (cmd == "init")
            return 0;
        const std::string user = a.option("--user", "demo");
        const std::string password = a.flag("--password-file") ? readPassword(a, false) : randomPassword();
        addUser(*store, user, password);
        auto s = openAdminSession(store, repositoryName(repo), user);
        makeCabinet(s, "Edvara", false);
        makeFolders(s, "/Edvara/Courses/Sample");
        makeFolders(s, "/Edvara/Templates");
        const fs::path work = fs::temp_directory_path() / ("tessarel-demo-" + std::to_string(::getpid()));
        sample::writeSampleCourse((work / "course").string());
        sample::writeSampleTemplates((work / "templates").string());
        std::vector<std::string> errors;
        int made = 0;
        for (const auto& [local, target] :
             {std::pair<std::string, std::string>{"course", "/Edvara/Courses/Sample"},
              {"templates", "/Edvara/Templates"}}) {
            const TreeImport r = importTree(s, (work / local).string(), target, nullptr);
            made += r.documents;
            errors.insert(errors.end(), r.errors.begin(), r.errors.end());
        }
        fs::remove_all(work);
        for (const auto& e : errors)
            std::fprintf(stderr, "error: %s\n", e.c_str());
        std::printf("Cabinet /Edvara with the sample course in /Edvara/Courses/Sample (%d documents)\n",
                    made);
        std::printf("User name: %s\nPassword: %s\n", user.c_str(), password.c_str());
        return errors.empty() ? 0 : 1;
    }
    if (cmd == "user") {
        const std::string sub = a.positional[1];
        auto store = openRepository(repositoryLocation(a.positional[2]));
        if (sub == "list") {
            for (const auto& u : listUsers(*store))
                std::printf("%s\n", u.c_str());
            return 0;
        }
        if (sub == "add")
            addUser(*store, a.positional[3], readPassword(a, true));
        else if (sub == "passwd")
            setUserPassword(*store, a.positional[3], readPassword(a, true));
        else
            throw UsageError("unknown user command " + sub);
        return 0;
    }
    if (cmd == "upgrade") {
        auto store = openRepository(repositoryLocation(repo));
        const int had = store->storage().upgradeSchema();
        const int now = store->storage().schemaVersion();
        if (had == now)
            std::printf("The repository's schema is at version %d already\n", now);
        else
            std::printf("Upgraded the repository's schema from version %d to %d\n", had, now);
        return 0;
    }
    if (cmd == "fsck") {
        auto store = openRepository(repositoryLocation(repo));
        const auto r = fsck(*store, a.flag("--verify"), a.flag("--repair"));
        const bool repair = a.flag("--repair");
        const char* fixed = repair ? " (removed)" : "";
        for (const auto& e : r.brokenLinks)
            std::printf("broken folder link: %s\n", e.c_str());
        for (const auto& e : r.objectsWithoutContent)
            std::printf("object without content: %s\n", e.c_str());
        for (const auto& h : r.missingContent)
            std::printf("metadata without content: %s\n", h.c_str());
        for (const auto& h : r.corruptContent)
            std::printf("content that does not match its hash: %s\n", h.c_str());
        for (const auto& h : r.orphanContent)
            std::printf("content without metadata: %s%s\n", h.c_str(),
                        r.orphansKept ? " (kept: damaged metadata may have lost it)" : fixed);
        for (const auto& f : r.stagingLeftovers)
            std::printf("left-over staging file: %s%s\n", f.c_str(), fixed);
        const bool ok =
            !r.damaged() && (repair ? !r.orphansKept : r.orphanContent.empty() && r.stagingLeftovers.empty());
        std::printf("%s\n", r.clean() ? "clean" : ok ? "repaired" : "problems found");
        return ok ? 0 : 1;
    }
    if (cmd == "log") {
        auto store = openRepository(repositoryLocation(repo));
        for (const auto& e : store->storage().auditTrail(a.positional.size() > 2 ? a.positional[2] : ""))
            std::printf("%s\t%s\t%s\t%s\t%s\n", e.at.c_str(), e.who.c_str(), e.action.c_str(), e.path.c_str(),
                        e.detail.c_str());
        return 0;
    }
    auto s = actingSession(repo, a);
    if (cmd == "mkcabinet") {
        makeCabinet(s, a.positional[2], a.flag("--private"));
        return 0;
    }
    if (cmd == "mkdir") {
        makeFolders(s, a.positional[2]);
        return 0;
    }
    if (cmd == "import") {
        // The monitor prints each failure as it comes; a failure leaves the repository as it was.
        const TreeImport r =
            importTree(s, a.positional[2], a.positional[3], std::make_shared<PrintingMonitor>(verbose));
        for (const auto& skipped : r.skipped)
            std::fprintf(stderr, "skipped %s\n", skipped.c_str());
        if (!r.errors.empty()) {
            std::printf("Imported nothing\n");
            return 1;
        }
        std::printf("Imported %d documents\n", r.documents);
        return 0;
    }
    if (cmd == "ls") {
        auto folder = s->folderByPath(a.positional[2]);
        if (!folder)
            fail(code::ObjectNotFound, "There is no folder " + tql::quoteString(a.positional[2]));
        auto rows = folder->contents("r_object_id,r_object_type,object_name,r_version_label,r_lock_owner");
        while (rows->next()) {
            const bool isFolder = rows->getString("r_object_type") != "ts_document";
            std::printf("%s  %-11s %-5s %s%s%s\n", rows->getString("r_object_id").c_str(),
                        rows->getString("r_object_type").c_str(),
                        isFolder ? "" : rows->getString("r_version_label").c_str(),
                        rows->getString("object_name").c_str(), isFolder ? "/" : "",
                        rows->getString("r_lock_owner").empty()
                            ? ""
                            : ("  (checked out by " + rows->getString("r_lock_owner") + ")").c_str());
        }
        return 0;
    }
    if (cmd == "query") {
        const tql::Query q = tql::parseTql(a.positional[2]);
        auto rows = s->runQuery(a.positional[2]);
        std::string head;
        for (const auto& c : q.attributes)
            head += (head.empty() ? "" : "\t") + c;
        std::printf("%s\n", head.c_str());
        int n = 0;
        while (rows->next()) {
            std::string line;
            for (size_t i = 0; i < q.attributes.size(); ++i)
                line += (i ? "\t" : "") + rows->getString(q.attributes[i]);
            std::printf("%s\n", line.c_str());
            ++n;
        }
        std::fprintf(stderr, "(%d rows)\n", n);
        return 0;
    }
    if (cmd == "export") {
        auto obj = objectAt(s, a.positional[2]);
        if (auto folder = std::dynamic_pointer_cast<TsFolder>(obj))
            return exportTree(s, folder, a.positional[3], verbose) == 0 ? 0 : 1;
        TsClient client;
        auto op = client.newExportOperation();
        op->setDestinationDirectory(a.positional[3]);
        op->add(obj);
        op->setMonitor(std::make_shared<PrintingMonitor>(verbose));
        const bool ok = op->execute();
        if (ok)
            std::printf("%s\n", op->nodes()[0]->localPath().c_str());
        return ok ? 0 : 1;
    }
    if (cmd == "checkout") {
        TsClient client;
        auto op = client.newCheckoutOperation();
        op->setDestinationDirectory(a.positional[3]);
        op->add(objectAt(s, a.positional[2]));
        op->setMonitor(std::make_shared<PrintingMonitor>(verbose));
        const bool ok = op->execute();
        if (ok)
            std::printf("%s\n", op->nodes()[0]->localPath().c_str());
        return ok ? 0 : 1;
    }
    if (cmd == "checkin") {
        auto obj = objectAt(s, a.positional[2]);
        if (a.positional.size() > 3)
            obj->setFile(a.positional[3]);
        TsClient client;
        auto op = client.newCheckinOperation();
        op->add(obj);
        op->setMonitor(std::make_shared<PrintingMonitor>(verbose));
        const bool ok = op->execute();
        if (ok)
            std::printf("%s is now version %s\n", a.positional[2].c_str(), obj->versionLabel().c_str());
        return ok ? 0 : 1;
    }
    if (cmd == "cancel-checkout") {
        objectAt(s, a.positional[2])->cancelCheckout();
        return 0;
    }
    if (cmd == "versions") {
        for (const auto& v : objectVersions(objectAt(s, a.positional[2])))
            std::printf("%-6s %s  %-10s %10lld  %s%s\n", v.label.c_str(), v.modified.c_str(),
                        v.modifier.c_str(), static_cast<long long>(v.size), v.hash.c_str(),
                        v.current ? "  (current)" : "");
        return 0;
    }
    throw UsageError("unknown command " + cmd);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::printf("%s", kUsage);
        return 0;
    }
    try {
        return run(parseArgs(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tessarel-admin: %s\n\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
