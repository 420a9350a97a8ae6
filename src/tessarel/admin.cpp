#include "tessarel/admin.h"

#include "tessarel/repository_store.h"

#include "platform/folders.h"

#include <libpq-fe.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace lf::tessarel {

bool connectionHasPassword(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (!options) {
        std::string why = error ? error : "out of memory";
        PQfreemem(error);
        while (!why.empty() && why.back() == '\n')
            why.pop_back();
        fail(code::BadArgument, "Not a connection string: " + why);
    }
    bool found = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o) {
        if (std::string_view(o->keyword) == "password" && o->val && *o->val)
            found = true;
    }
    PQconninfoFree(options);
    return found;
}

std::string repositoryLocation(const std::string& nameOrPath) {
    if (serverConnection(nameOrPath) || nameOrPath.find('/') != std::string::npos)
        return nameOrPath;
    TsLocalClient local;
    const std::string listed = local.repositoryList()->locationOf(nameOrPath);
    if (!listed.empty())
        return listed;
    return "sqlite:" + lf::platform::dataFolder().toStdString() + "/tessarel/" + nameOrPath;
}

std::string repositoryName(const std::string& nameOrPath) {
    if (const auto conninfo = serverConnection(nameOrPath)) {
        // A server location by itself: named after its database when it says which.
        const auto at = conninfo->find("dbname=");
        if (at == std::string::npos)
            return "server";
        return conninfo->substr(at + 7, conninfo->find(' ', at) - at - 7);
    }
    std::string p = nameOrPath;
    if (p.rfind("sqlite:", 0) == 0)
        p = p.substr(7);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return fs::path(p).filename().string();
}

std::shared_ptr<RepositoryStore> initRepository(const std::string& location) {
    return RepositoryStore::open(location, true);
}

std::shared_ptr<RepositoryStore> openRepository(const std::string& location) {
    return RepositoryStore::open(location, false);
}

TsSessionPtr openAdminSession(const std::shared_ptr<RepositoryStore>& store, const std::string& name,
                              const std::string& user) {
    return std::make_shared<TsSession>(store, name, user, true);
}

void checkUserPassword(RepositoryStore& store, const std::string& user, const std::string& password,
                       const std::string& passwordSource) {
    if (store.passwordMatches(user, password))
        return;
    if (!store.storage().userExists(user))
        fail(code::LoginRefused,
             "There is no user '" + user + "' in the repository to check " + passwordSource + " against");
    fail(code::LoginRefused,
         "The password in " + passwordSource + " is not the password of the user '" + user + "'");
}

void addUser(RepositoryStore& store, const std::string& user, const std::string& password) {
    if (user.empty() || user.find_first_of(" \t\r\n") != std::string::npos)
        fail(code::BadName, "'" + user + "' cannot be a user name");
    if (!store.storage().addUser(user, password))
        fail(code::UserExists, "The user '" + user + "' already exists");
}

void setUserPassword(RepositoryStore& store, const std::string& user, const std::string& password) {
    if (!store.storage().setPassword(user, password))
        fail(code::ObjectNotFound, "There is no user '" + user + "'");
}

std::vector<std::string> listUsers(RepositoryStore& store) {
    return store.storage().users();
}

TsFolderPtr makeCabinet(const TsSessionPtr& session, const std::string& name, bool isPrivate) {
    auto cab = std::dynamic_pointer_cast<TsFolder>(session->newObject("ts_cabinet"));
    cab->setObjectName(name);
    cab->setPrivate(isPrivate);
    cab->save();
    return cab;
}

namespace {

// The folder names of a repository path ("/A//B/" gives A and B).
std::vector<std::string> pathParts(const std::string& path) {
    if (path.empty() || path[0] != '/')
        fail(code::BadArgument, "'" + path + "' is not a repository path");
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const std::string part =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty())
            parts.push_back(part);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    if (parts.empty())
        fail(code::BadArgument, "'" + path + "' names no folder");
    return parts;
}

} // namespace

TsFolderPtr makeFolders(const TsSessionPtr& session, const std::string& path, bool makeCabinetToo) {
    const std::vector<std::string> parts = pathParts(path);
    std::string current = "/" + parts[0];
    TsFolderPtr folder = session->folderByPath(current);
    if (!folder) {
        if (!makeCabinetToo)
            fail(code::ObjectNotFound, "There is no cabinet " + tql::quoteString(current));
        folder = makeCabinet(session, parts[0], false);
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string next = current + "/" + parts[i];
        TsFolderPtr f = session->folderByPath(next);
        if (!f) {
            f = std::dynamic_pointer_cast<TsFolder>(session->newObject("ts_folder"));
            f->setObjectName(parts[i]);
            f->link(current);
            f->save();
        }
        folder = f;
        current = next;
    }
    return folder;
}

TreeImport importTree(const TsSessionPtr& session, const std::string& localDir,
                      const std::string& repositoryPath,
                      const std::shared_ptr<ITsOperationMonitor>& monitor) {
    TreeImport result;
    // The deepest folder of the path that exists; the rest is made with the import.
    const std::vector<std::string> parts = pathParts(repositoryPath);
    std::string existingPath = "/" + parts[0];
    TsFolderPtr destination = session->folderByPath(existingPath);
    if (!destination)
        fail(code::ObjectNotFound, "There is no cabinet " + tql::quoteString(existingPath));
    std::vector<std::string> below;
    for (size_t i = 1; i < parts.size(); ++i) {
        if (below.empty()) {
            if (auto f = session->folderByPath(existingPath + "/" + parts[i])) {
                destination = f;
                existingPath += "/" + parts[i];
                continue;
            }
        }
        below.push_back(parts[i]);
    }

    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(localDir, ec)))
        fail(code::FileError, localDir +
                                  " is a symbolic link; an import never follows links (name the folder "
                                  "it points to)");
    if (!fs::is_directory(fs::symlink_status(localDir, ec)))
        fail(code::FileError, "There is no folder " + localDir);

    TsClient client;
    auto op = client.newImportOperation();
    op->setSession(session);
    op->setDestinationFolder(destination->objectId());
    op->setAllOrNothing(true);
    op->addFolder(below);
    // The walk keeps its own list of folders still to read, so a deep tree costs no stack; it
    // looks at each entry itself (lstat), never through a link.
    std::vector<std::pair<fs::path, std::vector<std::string>>> pending{{fs::path(localDir), below}};
    while (!pending.empty()) {
        auto [dir, names] = std::move(pending.back());
        pending.pop_back();
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            entries.push_back(*it);
        if (ec) {
            result.errors.push_back("Cannot read the folder " + dir.string() + ": " + ec.message());
            return result;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto& x, const auto& y) { return x.path().filename() < y.path().filename(); });
        std::vector<std::pair<fs::path, std::vector<std::string>>> subfolders;
        for (const auto& e : entries) {
            const fs::file_status st = e.symlink_status(ec);
            if (fs::is_symlink(st)) {
                result.skipped.push_back(e.path().string() + ": a symbolic link (never followed)");
            } else if (fs::is_directory(st)) {
                auto sub = names;
                sub.push_back(e.path().filename().string());
                op->addFolder(sub);
                subfolders.emplace_back(e.path(), std::move(sub));
            } else if (fs::is_regular_file(st)) {
                auto node = std::static_pointer_cast<TsImportNode>(
                    op->add(std::make_shared<TsFileObject>(e.path().string())));
                node->setSubfolder(names);
            } else {
                result.skipped.push_back(e.path().string() + ": neither a file nor a folder");
            }
        }
        // Read in name order: the last pushed is read first.
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            pending.push_back(std::move(*it));
    }
    op->setMonitor(monitor);
    op->execute();
    result.documents = op->importedObjects()->count();
    for (int i = 0; i < op->errors()->count(); ++i)
        result.errors.push_back(op->errors()->item(i)->getMessage());
    return result;
}

namespace {

// The rows whose own folder link is broken, each named once: folders in a cycle of parent folders
// as such, every other row by what is wrong with its link.
std::vector<std::string> brokenFolderLinks(Storage& storage, const std::set<std::string>& presentContent,
                                           std::vector<std::string>& objectsWithoutContent) {
    const Viewer administrator{"", true};
    std::map<std::string, ObjectRecord> folders;
    storage.forEachObject(true, [&](const ObjectRecord& r) { folders.emplace(r.id, r); });

    // Following parent links from each folder: a walk that comes back to a folder it passed is a
    // cycle, whose folders never reach a cabinet.
    std::set<std::string> inCycle;
    std::map<std::string, int> state; // 1: on the current walk, 2: done
    for (const auto& [id, folder] : folders) {
        std::vector<std::string> walk;
        std::string at = id;
        for (;;) {
            int& st = state[at];
            if (st == 2)
                break;
            if (st == 1) {
                inCycle.insert(std::find(walk.begin(), walk.end(), at), walk.end());
                break;
            }
            st = 1;
            walk.push_back(at);
            const ObjectRecord& r = folders.at(at);
            const auto parent = folders.find(r.folderId);
            if (r.type == "ts_cabinet" || parent == folders.end())
                break;
            at = parent->first;
        }
        for (const auto& w : walk)
            state[w] = 2;
    }

    std::vector<std::string> broken;
    // A parent that is no folder is looked up once the scan is over, to say what it is.
    std::vector<ObjectRecord> parentNotFolder;
    auto check = [&](const ObjectRecord& r) {
        if (inCycle.count(r.id)) {
            broken.push_back(describeObject(r) + " lies in a cycle of parent folders");
            return;
        }
        const auto parent = folders.find(r.folderId);
        const ObjectRecord* p = parent == folders.end() ? nullptr : &parent->second;
        if (!p && r.type != "ts_cabinet" && !r.folderId.empty()) {
            parentNotFolder.push_back(r);
            return;
        }
        if (const std::string why = folderLinkFault(r, p); !why.empty())
            broken.push_back(describeObject(r) + " " + why);
    };
    for (const auto& [id, folder] : folders)
        check(folder);
    storage.forEachObject(false, [&](const ObjectRecord& r) {
        check(r);
        if (!r.contentHash.empty() && !presentContent.count(r.contentHash))
            objectsWithoutContent.push_back(describeObject(r) + " has lost its content " + r.contentHash);
    });
    for (const auto& r : parentNotFolder) {
        const auto parent = storage.objectById(r.folderId, administrator);
        broken.push_back(describeObject(r) + " " + folderLinkFault(r, parent ? &*parent : nullptr));
    }
    return broken;
}

} // namespace

FsckReport fsck(RepositoryStore& store, bool verify, bool repair) {
    FsckReport report;
    // The embedded repository's new content gets its name only while its writer holds the write
    // lock, so under the lock every named but unreferenced content is a true orphan. The server's
    // content commits with the objects that hold it, and its removal checks again, under the
    // content's row lock, that nothing holds it.
    Transaction lock(store.storage());
    const std::set<std::string> referenced = store.storage().referencedContent();
    const auto present = store.content().allContent();
    const std::set<std::string> presentSet(present.begin(), present.end());
    for (const auto& h : present) {
        if (!referenced.count(h))
            report.orphanContent.push_back(h);
        else if (verify && !store.content().verify(h))
            report.corruptContent.push_back(h);
    }
    for (const auto& h : referenced) {
        if (!presentSet.count(h))
            report.missingContent.push_back(h);
    }
    report.brokenLinks = brokenFolderLinks(store.storage(), presentSet, report.objectsWithoutContent);
    report.stagingLeftovers = store.content().stagingLeftovers();
    if (repair) {
        // An orphan is removed only while every row is whole: a row damaged in its content hash
        // leaves its bytes looking like an orphan, and they may be their only copy.
        report.orphansKept = report.damaged() && !report.orphanContent.empty();
        if (!report.orphansKept) {
            for (const auto& h : report.orphanContent)
                store.content().remove(h);
        }
        std::error_code ec;
        for (const auto& f : report.stagingLeftovers)
            fs::remove(f, ec);
    }
    lock.commit();
    return report;
}

std::vector<VersionInfo> objectVersions(const TsObjectPtr& object) {
    std::vector<VersionInfo> out;
    const auto& r = object->record();
    for (const auto& v : object->session().store().storage().versions(r.id))
        out.push_back(
            {v.versionLabel, v.contentType, v.contentHash, v.contentSize, v.modified, v.modifier, false});
    out.push_back(
        {r.versionLabel, r.contentType, r.contentHash, r.contentSize, r.modified, r.modifier, true});
    return out;
}

} // namespace lf::tessarel
