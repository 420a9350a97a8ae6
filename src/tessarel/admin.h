#pragma once
// What the administration tool does on a repository's files directly: making repositories,
// users, folder trees, consistency checks. The program itself never calls these.
#include "tessarel/tessarel.h"

#include <string>
#include <vector>

namespace lf::tessarel {

// A repository given by name (from tessarel.ini, else the data folder's tessarel/NAME), by
// folder path (anything holding "/") or as a server location ("postgresql:CONNINFO").
std::string repositoryLocation(const std::string& nameOrPath);
std::string repositoryName(const std::string& nameOrPath);

// Whether a server connection string (keywords or a postgresql:// URI) carries a password; fails
// with TS_BAD_ARGUMENT when it is no connection string.
bool connectionHasPassword(const std::string& conninfo);

std::shared_ptr<RepositoryStore> initRepository(const std::string& location);
std::shared_ptr<RepositoryStore> openRepository(const std::string& location);
// A session that sees every cabinet, acting as user (owner of what it makes, holder of its locks).
TsSessionPtr openAdminSession(const std::shared_ptr<RepositoryStore>& store, const std::string& name,
                              const std::string& user);
// Fails with TS_LOGIN_REFUSED unless the user exists and the password is theirs; passwordSource
// says where the password came from ("the password file pw.txt"), for the message.
void checkUserPassword(RepositoryStore& store, const std::string& user, const std::string& password,
                       const std::string& passwordSource);

// Fail with TS_USER_EXISTS / TS_OBJECT_NOT_FOUND.
void addUser(RepositoryStore& store, const std::string& user, const std::string& password);
void setUserPassword(RepositoryStore& store, const std::string& user, const std::string& password);
std::vector<std::string> listUsers(RepositoryStore& store);

// Makes a cabinet; private cabinets are seen by their owner only.
TsFolderPtr makeCabinet(const TsSessionPtr& session, const std::string& name, bool isPrivate);
// Makes every missing folder of a path below an existing cabinet (the cabinet too when makeCabinet).
TsFolderPtr makeFolders(const TsSessionPtr& session, const std::string& path, bool makeCabinet = false);

struct TreeImport {
    int documents = 0;                // documents made (none when the import failed)
    std::vector<std::string> errors;  // what failed; any failure commits nothing
    std::vector<std::string> skipped; // "PATH: why" for each entry left out (links, devices...)
};
// Imports a local folder tree into a repository folder (made with any missing folders above it,
// below an existing cabinet), all of it or nothing, in one transaction. The walk never follows a
// symbolic link, to a file or a folder: it skips it and names it in skipped.
TreeImport importTree(const TsSessionPtr& session, const std::string& localDir,
                      const std::string& repositoryPath, const std::shared_ptr<ITsOperationMonitor>& monitor);

struct FsckReport {
    std::vector<std::string> brokenLinks;           // "PATH (id ID) why": a row's folder link broken
    std::vector<std::string> objectsWithoutContent; // "PATH (id ID) ...": content missing
    std::vector<std::string> missingContent;        // hashes metadata points to that are not stored
    std::vector<std::string> orphanContent;         // hashes: content without metadata
    std::vector<std::string> corruptContent;        // hashes whose bytes do not match (with verify)
    std::vector<std::string> stagingLeftovers;
    // Repair left the orphan content alone: with damaged metadata, an orphan may be the content
    // a damaged row lost its hash to, the only copy of those bytes.
    bool orphansKept = false;
    // Metadata or content is damaged: nothing repair does mends it.
    bool damaged() const {
        return !brokenLinks.empty() || !objectsWithoutContent.empty() || !missingContent.empty() ||
               !corruptContent.empty();
    }
    bool clean() const { return !damaged() && orphanContent.empty() && stagingLeftovers.empty(); }
};
// Finds rows whose folder links are broken (a parent folder missing or not a folder, a path or a
// cabinet that is not the parent's, a cycle of parent folders, an unknown type), objects and
// versions whose content is missing, content nothing refers to, staging leftovers, and with
// verify content whose bytes do not match its name. With repair, removes staging leftovers and
// orphan content (never metadata), the orphans only while no metadata is damaged.
FsckReport fsck(RepositoryStore& store, bool verify, bool repair);

struct VersionInfo {
    std::string label;
    std::string contentType;
    std::string hash;
    std::int64_t size = 0;
    std::string modified;
    std::string modifier;
    bool current = false;
};
std::vector<VersionInfo> objectVersions(const TsObjectPtr& object);

} // namespace lf::tessarel
