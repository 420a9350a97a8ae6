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
    std::vector<std::string> missingContent; // "id name hash": metadata without content
    std::vector<std::string> orphanContent;  // hashes: content without metadata
    std::vector<std::string> corruptContent; // hashes whose bytes do not match (with verify)
    std::vector<std::string> stagingLeftovers;
    bool clean() const {
        return missingContent.empty() && orphanContent.empty() && corruptContent.empty() &&
               stagingLeftovers.empty();
    }
};
// With repair, removes orphan content and staging leftovers (never metadata).
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
