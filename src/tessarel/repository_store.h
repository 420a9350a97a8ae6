#pragma once
// One open repository: its database (behind the storage interface) and its content store; for
// the embedded repository also its folder. A store opened by the administration tool is shared
// by its sessions; a login to a server repository has a store, and a connection, of its own.
#include "tessarel/content_store.h"
#include "tessarel/storage.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace lf::tessarel {

class RepositoryStore {
public:
    // location: "sqlite:/folder", a plain folder path, or "postgresql:CONNINFO" (a libpq connection
    // string or URI). Opens as the administrator: the embedded repository's files directly, or the
    // server as the connection string's own role. create makes an empty repository.
    static std::shared_ptr<RepositoryStore> open(const std::string& location, bool create = false);
    // Opens for a user logging in: fails with TS_LOGIN_REFUSED unless the password is the user's
    // (on the server, the server checks it and the store's connection is the user's own).
    static std::shared_ptr<RepositoryStore> login(const std::string& location, const std::string& user,
                                                  const std::string& password);

    bool isServer() const { return folder_.empty(); }
    // The embedded repository's folder; "" for a server repository.
    const std::string& folder() const { return folder_; }
    Storage& storage() { return *storage_; }
    ContentStore& content() { return *content_; }

    // A fresh 16-hex-digit id not used by any object.
    std::string newObjectId();
    // The format for a local file's extension; an unknown extension gets a format of its own,
    // unless it is longer than kMaxFormatExtensionBytes (no format then).
    std::string formatForFile(const std::string& fileName);
    std::string extensionOf(const std::string& format);

    // True when the user exists and the password is theirs.
    bool passwordMatches(const std::string& user, const std::string& password);

private:
    RepositoryStore(std::string folder, std::unique_ptr<Storage> storage,
                    std::unique_ptr<ContentStore> content);
    std::string folder_;
    std::unique_ptr<Storage> storage_;
    std::unique_ptr<ContentStore> content_;
};

// The connection string of a "postgresql:" location, nothing for a location of another kind.
std::optional<std::string> serverConnection(const std::string& location);

// The current time as the repository writes dates: 2026-12-08T03:28:01Z.
std::string nowText();
// The folder path and name of a repository path; "/Edvara" gives ("", "Edvara").
std::pair<std::string, std::string> splitRepositoryPath(std::string path);
// The one rule for every name that enters the repository (documents, folders and cabinets, made,
// imported or renamed): 1 to kMaxObjectNameBytes bytes, not "." or "..", and no "/", "\" or
// control characters. Such a name can always be exported: with the longest extension a format has
// (kMaxFormatExtensionBytes, after a ".") it stays within the 255 bytes a file system allows a name.
inline constexpr size_t kMaxFormatExtensionBytes = 15;
inline constexpr size_t kMaxObjectNameBytes = 255 - 1 - kMaxFormatExtensionBytes;
// Fails with TS_BAD_NAME, saying which part of the rule the name breaks.
void checkObjectName(const std::string& name);

// An object as a message about it names it: its path, quoted as a name is, and its id.
std::string describeObject(const ObjectRecord& r);
// Writes an object's content to target (ContentStore::copyOut); content missing, or whose bytes do
// not match its hash, fails with TS_NO_CONTENT naming the object, and nothing is written.
void copyObjectContent(const ContentStore& content, const ObjectRecord& r, const std::string& target);
// What is wrong with a row's own link to its parent folder, given the parent's row (nullptr when
// there is none): an unknown type, a parent that is missing or no folder, a path or a cabinet that
// is not the parent's. "" when nothing is.
std::string folderLinkFault(const ObjectRecord& r, const ObjectRecord* parent);
// Checks the folder links of an object up to its cabinet: each folder on the way is there, is a
// folder, stands at the path and in the cabinet the row below it records, and no folder lies above
// itself. Fails with TS_REPOSITORY_DAMAGED naming the row that breaks the chain. soundFolders (the
// folders found sound, by id) spares the look-ups an operation made already, and gains the folders
// checked.
void checkFolderLinks(Storage& storage, const ObjectRecord& object, const Viewer& viewer,
                      std::map<std::string, ObjectRecord>& soundFolders);

} // namespace lf::tessarel
