#include "tessarel/tessarel.h"

#include "tessarel/repository_store.h"
#include "tessarel/tql.h"

#include "platform/ascii.h"
#include "platform/folders.h"
#include "platform/profile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lf::tessarel {

namespace {

bool isObjectIdText(const std::string& text) {
    return text.size() == 16 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

class QueryCollection : public TsCollection {
public:
    QueryCollection(std::shared_ptr<RepositoryStore> store, std::unique_ptr<QueryCursor> cursor)
        : store_(std::move(store)), cursor_(std::move(cursor)) {}
    bool next() override {
        if (!cursor_)
            return false;
        current_ = cursor_->next();
        if (!current_)
            close();
        return current_;
    }
    std::string getString(const std::string& attribute) const override {
        if (!cursor_ || !current_)
            fail(code::BadArgument, "The result has no current row");
        const auto& cols = cursor_->columns();
        // Rows are read attribute by attribute in a loop: remember where the last name was.
        if (lastColumn_ < cols.size() && sameName(cols[lastColumn_], attribute))
            return cursor_->value(lastColumn_);
        for (size_t i = 0; i < cols.size(); ++i) {
            if (sameName(cols[i], attribute)) {
                lastColumn_ = i;
                return cursor_->value(i);
            }
        }
        fail(code::BadArgument, "The attribute '" + attribute + "' is not in the query's select list");
    }
    void close() override {
        cursor_.reset();
        current_ = false;
    }

private:
    // Column names are lower case; the attribute asked for usually is too.
    static bool sameName(const std::string& column, const std::string& attribute) {
        if (column.size() != attribute.size())
            return false;
        for (size_t i = 0; i < column.size(); ++i) {
            if (column[i] != platform::asciiLower(attribute[i]))
                return false;
        }
        return true;
    }

    mutable size_t lastColumn_ = 0;
    std::shared_ptr<RepositoryStore> store_; // keeps the database open while rows are read
    std::unique_ptr<QueryCursor> cursor_;
    bool current_ = false;
};

} // namespace

// ---- names of local files

std::string localFileName(const std::string& objectName, const std::string& extension) {
    if (extension.empty())
        return objectName;
    const std::string suffix = "." + platform::asciiLower(extension);
    if (objectName.size() > suffix.size() &&
        platform::asciiLower(objectName.substr(objectName.size() - suffix.size())) == suffix)
        return objectName;
    return objectName + "." + extension;
}

bool isSafeFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255)
        return false;
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

// ---- client, local client, repository list

TsLocalClientPtr TsClient::localClient() {
    if (!local_)
        local_ = std::make_shared<TsLocalClient>();
    return local_;
}

TsObjectIdPtr TsClient::objectIdFromText(const std::string& text) {
    if (!isObjectIdText(text))
        fail(code::BadId, "'" + text + "' is not an object id");
    return std::make_shared<TsObjectId>(platform::asciiLower(text));
}

TsFileObjectPtr TsClient::fileObject(const std::string& localPath) {
    std::error_code ec;
    if (localPath.empty() || !fs::is_regular_file(localPath, ec) || ::access(localPath.c_str(), R_OK) != 0)
        return nullptr;
    return std::make_shared<TsFileObject>(localPath);
}

TsParsedErrorPtr TsClient::parsedError(const std::string& description) {
    auto parts = splitErrorDescription(description);
    if (!parts)
        return nullptr;
    return std::make_shared<TsParsedError>(parts->code, parts->message);
}

TsFileObject::TsFileObject(std::string path) : path_(std::move(path)) {
    name_ = fs::path(path_).filename().string();
}

std::string TsRepositoryList::nameAt(int index) const {
    if (index < 0 || index >= count())
        fail(code::BadArgument, "No repository at index " + std::to_string(index));
    return entries_[static_cast<size_t>(index)].name;
}

std::string TsRepositoryList::locationAt(int index) const {
    if (index < 0 || index >= count())
        fail(code::BadArgument, "No repository at index " + std::to_string(index));
    return entries_[static_cast<size_t>(index)].location;
}

std::string TsRepositoryList::locationOf(const std::string& name) const {
    for (const auto& e : entries_) {
        if (e.name == name)
            return e.location;
    }
    return "";
}

std::shared_ptr<TsRepositoryList> TsLocalClient::repositoryList() {
    std::vector<TsRepositoryList::Entry> entries;
    const QString ini = lf::platform::profileFilePath("tessarel.ini");
    if (QFileInfo::exists(ini)) {
        for (const auto& [name, location] : lf::platform::GetPrivateProfileSection("Repositories", ini)) {
            if (!name.trimmed().isEmpty())
                entries.push_back({name.trimmed().toStdString(), location.trimmed().toStdString()});
        }
    } else {
        QDir dir(lf::platform::dataFolder() + "/tessarel");
        for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            if (QFileInfo::exists(dir.filePath(sub) + "/repository.db"))
                entries.push_back({sub.toStdString(), "sqlite:" + dir.filePath(sub).toStdString()});
        }
    }
    return std::make_shared<TsRepositoryList>(std::move(entries));
}

TsSessionManagerPtr TsLocalClient::newSessionManager() {
    return std::make_shared<TsSessionManager>(shared_from_this());
}

// ---- session manager

void TsSessionManager::setIdentity(const std::string& repository, TsLoginInfoPtr login) {
    if (!login)
        fail(code::BadArgument, "No login information");
    identities_[repository] = std::move(login);
    sessions_.erase(repository);
}

TsSessionPtr TsSessionManager::getSession(const std::string& repository) {
    auto id = identities_.find(repository);
    if (id == identities_.end())
        fail(code::NoIdentity, "No identity was given for the repository '" + repository + "'");
    if (auto s = sessions_.find(repository); s != sessions_.end())
        return s->second;
    const std::string location = local_->repositoryList()->locationOf(repository);
    if (location.empty())
        fail(code::UnknownRepository, "There is no repository named '" + repository + "'");
    const auto& login = *id->second;
    std::shared_ptr<RepositoryStore> store;
    try {
        store = RepositoryStore::login(location, login.user(), login.password());
    } catch (const TsException& e) {
        if (e.code() == code::LoginRefused)
            fail(code::LoginRefused,
                 "Login refused for user '" + login.user() + "' on repository '" + repository + "'");
        throw;
    }
    auto session = std::make_shared<TsSession>(std::move(store), repository, login.user(), false);
    sessions_[repository] = session;
    return session;
}

void TsSessionManager::release(const TsSessionPtr&) {
    // A released session stays valid: the manager keeps it for the next getSession.
}

// ---- session

TsSession::TsSession(std::shared_ptr<RepositoryStore> store, std::string repositoryName, std::string user,
                     bool administrator)
    : store_(std::move(store)), repositoryName_(std::move(repositoryName)), user_(std::move(user)),
      administrator_(administrator) {}

Viewer TsSession::viewer() const {
    return Viewer{user_, administrator_};
}

TsObjectPtr TsSession::objectFor(const ObjectRecord& record) {
    // Objects the caller let go of leave their slots; clear them out now and then.
    if (objects_.size() >= 1024 && objects_.size() >= 2 * liveAtLastSweep_) {
        std::erase_if(objects_, [](const auto& entry) { return entry.second.expired(); });
        liveAtLastSweep_ = objects_.size();
    }
    auto& slot = objects_[record.id];
    if (auto existing = slot.lock()) {
        if (!existing->isDirty())
            existing->adopt(record);
        return existing;
    }
    TsObjectPtr obj;
    if (record.isFolder())
        obj = std::make_shared<TsFolder>(shared_from_this(), std::make_unique<ObjectRecord>(record), true);
    else
        obj = std::make_shared<TsObject>(shared_from_this(), std::make_unique<ObjectRecord>(record), true);
    slot = obj;
    return obj;
}

TsObjectPtr TsSession::objectById(const TsObjectIdPtr& id) {
    if (!id)
        fail(code::BadId, "No object id");
    return objectById(id->text());
}

TsObjectPtr TsSession::objectById(const std::string& id) {
    if (!isObjectIdText(id))
        fail(code::BadId, "'" + id + "' is not an object id");
    auto r = store_->storage().objectById(platform::asciiLower(id), viewer());
    if (!r)
        fail(code::ObjectNotFound, "There is no object with the id '" + id + "'");
    return objectFor(*r);
}

TsFolderPtr TsSession::folderByPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return nullptr;
    auto [parent, name] = splitRepositoryPath(path);
    if (name.empty())
        return nullptr;
    auto r = store_->storage().objectByPath(parent, name, viewer(), true);
    if (!r)
        return nullptr;
    return std::dynamic_pointer_cast<TsFolder>(objectFor(*r));
}

TsObjectPtr TsSession::objectByPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return nullptr;
    auto [parent, name] = splitRepositoryPath(path);
    if (name.empty())
        return nullptr;
    auto r = store_->storage().objectByPath(parent, name, viewer());
    if (!r)
        return nullptr;
    return objectFor(*r);
}

TsObjectPtr TsSession::newObject(const std::string& type) {
    if (type != "ts_document" && type != "ts_folder" && type != "ts_cabinet")
        fail(code::BadArgument, "Cannot make an object of type '" + type + "'");
    auto r = std::make_unique<ObjectRecord>();
    r->id = store_->newObjectId();
    r->type = type;
    r->owner = user_;
    r->versionLabel = "1.0";
    TsObjectPtr obj;
    if (type == "ts_document")
        obj = std::make_shared<TsObject>(shared_from_this(), std::move(r), false);
    else
        obj = std::make_shared<TsFolder>(shared_from_this(), std::move(r), false);
    objects_[obj->record().id] = obj;
    return obj;
}

TsCollectionPtr TsSession::runQuery(const std::string& text) {
    const tql::Query q = tql::parseTql(text);
    return std::make_shared<QueryCollection>(store_, store_->storage().runQuery(q, viewer()));
}

TsCollectionPtr TsQuery::execute(const TsSessionPtr& session, int queryType) {
    if (!session)
        fail(code::NotConnected, "The query has no session");
    if (queryType != 0)
        fail(code::BadArgument, "Unknown query type " + std::to_string(queryType));
    return session->runQuery(tql_);
}

TsCollectionPtr TsFolder::contents(const std::string& attributes) {
    std::string list;
    for (char c : attributes) {
        if (c != ' ')
            list += c;
    }
    if (list.empty())
        list = "object_name";
    return session().runQuery("select " + list + " from ts_sysobject where folder(ID('" + record().id +
                              "'))");
}

// ---- repository objects

TsObject::TsObject(TsSessionPtr session, std::unique_ptr<ObjectRecord> record, bool persisted)
    : session_(std::move(session)), rec_(std::move(record)), persisted_(persisted) {}

TsObject::~TsObject() = default;

TsObjectIdPtr TsObject::objectId() const {
    return std::make_shared<TsObjectId>(rec_->id);
}
std::string TsObject::objectName() const {
    return rec_->name;
}
std::string TsObject::type() const {
    return rec_->type;
}
bool TsObject::isCheckedOut() const {
    return !rec_->lockOwner.empty();
}
std::string TsObject::lockOwner() const {
    return rec_->lockOwner;
}
std::string TsObject::versionLabel() const {
    return rec_->versionLabel;
}
bool TsObject::isPrivate() const {
    return rec_->isPrivate;
}
std::string TsObject::folderPath() const {
    return linkedPath_.empty() ? rec_->parentPath : linkedPath_;
}

void TsObject::setObjectName(const std::string& name) {
    rec_->name = name;
    dirty_ = true;
}

void TsObject::setPrivate(bool isPrivate) {
    if (rec_->type != "ts_cabinet")
        fail(code::BadArgument, "Only a cabinet can be private");
    rec_->isPrivate = isPrivate;
    dirty_ = true;
}

TsFormatPtr TsObject::format() const {
    const std::string name = pendingFile_.empty() ? rec_->contentType : pendingFormat_;
    if (name.empty())
        return nullptr;
    return std::make_shared<TsFormat>(name, session_->store().extensionOf(name));
}

void TsObject::link(const std::string& folderPath) {
    if (rec_->type == "ts_cabinet")
        fail(code::BadArgument, "A cabinet cannot be linked into a folder");
    auto folder = session_->folderByPath(folderPath);
    if (!folder)
        fail(code::ObjectNotFound, "There is no folder " + tql::quoteString(folderPath));
    linkedPath_ = folder->record().ownPath();
    dirty_ = true;
}

void TsObject::setFile(const std::string& localPath, const std::string& format) {
    std::error_code ec;
    if (!fs::is_regular_file(localPath, ec))
        fail(code::FileError, "There is no file " + localPath);
    if (rec_->isFolder())
        fail(code::BadArgument, "A folder has no content");
    if (!format.empty() && !session_->store().storage().formatExtension(format))
        fail(code::UnknownFormat, "There is no format '" + format + "'");
    pendingFile_ = localPath;
    pendingFormat_ = format;
    if (pendingFormat_.empty()) {
        // The format of the file's extension; looked up now, made at save when it is new.
        const auto dot = localPath.rfind('.');
        const auto slash = localPath.rfind('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) {
            pendingFormat_ =
                session_->store().storage().formatForExtension(localPath.substr(dot + 1)).value_or("");
        }
    }
    dirty_ = true;
}

void TsObject::clearPendingFile() {
    pendingFile_.clear();
    pendingFormat_.clear();
}

void TsObject::adopt(const ObjectRecord& r) {
    *rec_ = r;
    persisted_ = true;
    dirty_ = false;
    linkedPath_.clear();
}

void TsObject::refresh() {
    if (!persisted_)
        return;
    auto r = session_->store().storage().objectById(rec_->id, session_->viewer());
    if (!r)
        fail(code::ObjectNotFound, "The object '" + rec_->id + "' no longer exists");
    adopt(*r);
    clearPendingFile();
}

std::string TsObject::getString(const std::string& attribute) const {
    const std::string a = platform::asciiLower(attribute);
    const auto& r = *rec_;
    if (a == "r_object_id")
        return r.id;
    if (a == "object_name")
        return r.name;
    if (a == "r_object_type")
        return r.type;
    if (a == "a_content_type")
        return r.contentType;
    if (a == "is_private")
        return r.isPrivate ? "true" : "false";
    if (a == "owner_name")
        return r.owner;
    if (a == "r_lock_owner")
        return r.lockOwner;
    if (a == "r_version_label")
        return r.versionLabel;
    if (a == "r_creation_date")
        return r.created;
    if (a == "r_modify_date")
        return r.modified;
    if (a == "i_folder_id")
        return r.folderId;
    if (a == "r_folder_path")
        return r.isFolder() ? r.ownPath() : r.parentPath;
    if (a == "i_cabinet_id")
        return r.cabinetId;
    if (a == "r_content_size")
        return std::to_string(r.contentSize);
    if (a == "r_modifier")
        return r.modifier;
    fail(code::BadArgument, "Unknown attribute '" + attribute + "'");
}

std::string TsObject::getFile(const std::string& localPath) const {
    if (rec_->contentHash.empty())
        fail(code::NoContent, "'" + rec_->name + "' has no content");
    copyObjectContent(session_->store().content(), *rec_, localPath);
    return localPath;
}

void TsObject::cancelCheckout() {
    auto& storage = session_->store().storage();
    Transaction t(storage);
    auto cur = storage.objectById(rec_->id, session_->viewer());
    if (!cur)
        fail(code::ObjectNotFound, "The object '" + rec_->id + "' no longer exists");
    if (cur->lockOwner.empty())
        fail(code::NotCheckedOut, "'" + cur->name + "' is not checked out");
    if (cur->lockOwner != session_->userName() && !session_->viewer().administrator)
        fail(code::NotLockOwner,
             "'" + cur->name + "' is checked out by " + cur->lockOwner + ", not by " + session_->userName());
    storage.unlockObject(rec_->id, "");
    t.commit();
    rec_->lockOwner.clear();
    rec_->lockPath.clear();
}

void TsObject::save() {
    auto& store = session_->store();
    auto& storage = store.storage();
    ObjectRecord r = *rec_;
    // A new name is checked before any content is staged; a name kept from a repository made
    // before the name rule stays as it is.
    if (!persisted_)
        checkObjectName(r.name);
    std::vector<StagedContent> staged;
    if (!pendingFile_.empty())
        staged.push_back(store.content().stage(pendingFile_));
    try {
        Transaction t(storage);
        store.content().publish(staged);
        const Viewer v = session_->viewer();
        std::optional<ObjectRecord> current;
        if (persisted_) {
            current = storage.objectById(r.id, v);
            if (!current)
                fail(code::ObjectNotFound, "The object '" + r.id + "' no longer exists");
            if (!current->lockOwner.empty() && current->lockOwner != session_->userName())
                fail(code::LockConflict, "'" + current->name + "' is checked out by " + current->lockOwner);
            r.lockOwner = current->lockOwner;
            r.lockPath = current->lockPath;
            if (r.name != current->name)
                checkObjectName(r.name);
        }
        if (r.type == "ts_cabinet") {
            r.parentPath.clear();
            r.folderId.clear();
            r.cabinetId = r.id;
        } else if (!linkedPath_.empty()) {
            auto [parent, name] = splitRepositoryPath(linkedPath_);
            auto folder = storage.objectByPath(parent, name, v, true);
            if (!folder)
                fail(code::ObjectNotFound, "There is no folder " + tql::quoteString(linkedPath_));
            if (r.isFolder() && current &&
                (folder->ownPath() == current->ownPath() ||
                 folder->ownPath().rfind(current->ownPath() + "/", 0) == 0))
                fail(code::BadArgument, "A folder cannot be moved into itself");
            r.parentPath = folder->ownPath();
            r.folderId = folder->id;
            r.cabinetId = folder->cabinetId;
        } else if (!persisted_) {
            fail(code::BadArgument, "'" + r.name + "' must be linked into a folder before it is saved");
        }
        if (r.isFolder()) {
            auto same = storage.objectByPath(r.parentPath, r.name, Viewer{"", true}, true);
            if (same && same->id != r.id)
                fail(code::NameConflict, "There is already a folder " + tql::quoteString(r.ownPath()));
        }
        if (!staged.empty()) {
            r.contentHash = staged[0].hash;
            r.contentSize = staged[0].size;
            r.contentType = pendingFormat_.empty() ? store.formatForFile(pendingFile_) : pendingFormat_;
        }
        r.modified = nowText();
        r.modifier = session_->userName();
        if (!persisted_) {
            r.created = r.modified;
            r.owner = session_->userName();
            r = storage.insertObject(r);
        } else {
            r = storage.updateObject(r);
        }
        t.commit();
    } catch (...) {
        store.content().discard(staged);
        throw;
    }
    adopt(r);
    clearPendingFile();
}

} // namespace lf::tessarel
