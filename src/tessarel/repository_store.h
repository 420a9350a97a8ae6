#pragma once
// One open repository: its folder, its database (behind the storage interface) and its content
// store. Shared by every session on it.
#include "tessarel/content_store.h"
#include "tessarel/storage.h"

#include <memory>
#include <string>

namespace lf::tessarel {

class RepositoryStore {
public:
    // location: "sqlite:/folder" or a plain folder path. create makes an empty repository.
    static std::shared_ptr<RepositoryStore> open(const std::string& location, bool create = false);

    const std::string& folder() const { return folder_; }
    Storage& storage() { return *storage_; }
    ContentStore& content() { return content_; }

    // A fresh 16-hex-digit id not used by any object.
    std::string newObjectId();
    // The format for a local file's extension; an unknown extension gets a format of its own.
    std::string formatForFile(const std::string& fileName);
    std::string extensionOf(const std::string& format);

    // Passwords are kept as argon2id hashes.
    static std::string hashPassword(const std::string& password);
    static bool verifyPassword(const std::string& hash, const std::string& password);
    // True when the user exists and the password is theirs.
    bool passwordMatches(const std::string& user, const std::string& password);

private:
    RepositoryStore(std::string folder, std::unique_ptr<Storage> storage);
    std::string folder_;
    std::unique_ptr<Storage> storage_;
    ContentStore content_;
};

// The current time as the repository writes dates: 2026-12-08T03:28:01Z.
std::string nowText();
// The folder path and name of a repository path; "/Edvara" gives ("", "Edvara").
std::pair<std::string, std::string> splitRepositoryPath(std::string path);
// A folder or cabinet name cannot hold "/" and cannot be empty, "." or "..".
bool isValidFolderName(const std::string& name);

} // namespace lf::tessarel
