// Export, check-out, import and check-in: each takes nodes, reports progress and failures to its
// monitor as it goes, and succeeds only when every node did.
#include "tessarel/repository_store.h"
#include "tessarel/tessarel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lf::tessarel {

namespace {

// The object as the repository holds it now.
ObjectRecord currentRecord(TsObject& obj) {
    auto cur = obj.session().store().storage().objectById(obj.record().id, obj.session().viewer());
    if (!cur)
        fail(code::ObjectNotFound, "The object '" + obj.record().id + "' no longer exists");
    return *cur;
}

// The local file an export or a check-out writes for an object: refused for folders, objects
// without content, names that are not safe file names, and a second object of the same
// operation that would land on the same file.
std::string claimLocalFile(const ObjectRecord& r, RepositoryStore& store, const std::string& dir,
                           std::set<std::string>& written, const std::string& verb) {
    if (r.isFolder())
        fail(code::BadArgument, "'" + r.name + "' is a folder, not a document");
    if (r.contentHash.empty())
        fail(code::NoContent, "'" + r.name + "' has no content");
    const std::string local = localFileName(r.name, store.extensionOf(r.contentType));
    if (!isSafeFileName(r.name) || !isSafeFileName(local))
        fail(code::BadName,
             "The object name " + tql::quoteString(r.name) + " is not a safe file name; it was not " + verb);
    if (!written.insert(local).second)
        fail(code::NameConflict, "Another object of this operation was already " + verb + " as " + local);
    return (fs::path(dir) / local).string();
}

// The destination folder of an export or a check-out, made when missing.
std::string prepareDestination(const std::string& dir) {
    if (dir.empty())
        fail(code::BadArgument, "No destination directory was set");
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec))
        fail(code::FileError, "Cannot use the destination directory " + dir);
    return dir;
}

// Stages the files of an import on a few threads while the calling thread reports each file in
// order: hashing and copying one file then overlaps with the next. A small import is staged on
// the calling thread alone. An empty path is skipped; a symbolic link fails (never followed).
class Stager {
public:
    Stager(ContentStore& content, std::vector<std::string> paths, std::vector<StagedContent>& staged)
        : content_(content), paths_(std::move(paths)), staged_(staged), errors_(paths_.size()),
          done_(paths_.size(), 0) {
        if (paths_.size() < kParallelFrom)
            return;
        const size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, kMaxThreads);
        try {
            for (size_t t = 0; t < threads; ++t)
                workers_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for (none: the calling thread stages every file).
        }
    }
    ~Stager() { stop(); }
    Stager(const Stager&) = delete;
    Stager& operator=(const Stager&) = delete;

    // Waits until file i is staged, and fails as staging it did.
    void wait(size_t i) {
        if (workers_.empty()) {
            stageOne(i);
        } else {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [&] { return done_[i] != 0; });
        }
        if (errors_[i])
            std::rethrow_exception(errors_[i]);
    }
    // Starts no more files and waits for those under way.
    void stop() {
        stopped_ = true;
        for (auto& w : workers_)
            w.join();
        workers_.clear();
    }

private:
    static constexpr size_t kParallelFrom = 8;
    static constexpr size_t kMaxThreads = 4;

    void stageOne(size_t i) {
        try {
            if (!paths_[i].empty())
                staged_[i] = content_.stage(paths_[i], true);
        } catch (...) {
            errors_[i] = std::current_exception();
        }
    }
    void work() {
        while (!stopped_) {
            const size_t i = next_++;
            if (i >= paths_.size())
                return;
            stageOne(i);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                done_[i] = 1;
            }
            ready_.notify_all();
        }
    }

    ContentStore& content_;
    const std::vector<std::string> paths_;
    std::vector<StagedContent>& staged_;
    std::vector<std::exception_ptr> errors_;
    std::vector<char> done_;
    std::vector<std::thread> workers_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::condition_variable ready_;
};

template <class Node>
TsOperationNodePtr addOnce(std::vector<TsOperationNodePtr>& nodes, const TsObjectPtr& object) {
    // A lookup of the caller's that gave nothing fails here rather than leave the object out.
    if (!object)
        fail(code::BadArgument, "No object was given to the operation");
    for (const auto& n : nodes) {
        if (n->object() == object || (n->object() && n->object()->record().id == object->record().id))
            return n;
    }
    auto node = std::make_shared<Node>(object, nullptr);
    nodes.push_back(node);
    return node;
}

} // namespace

// ---- every operation

TsOperationNodePtr TsOperation::add(const TsObjectPtr&) {
    return nullptr;
}
TsOperationNodePtr TsOperation::add(const TsFileObjectPtr&) {
    return nullptr;
}

bool TsOperation::execute() {
    errors_->clear();
    stepsDone_ = 0;
    for (auto& n : nodes_)
        n->setSucceeded(false);
    try {
        run();
    } catch (const TsException& e) {
        failRemaining(0, "");
        errors_->append(std::make_shared<TsOperationError>(e.code(), e.message(), nullptr));
        if (monitor_)
            monitor_->reportError(errors_->item(errors_->count() - 1));
        return false;
    } catch (const std::exception& e) {
        failRemaining(0, "");
        errors_->append(std::make_shared<TsOperationError>(code::StorageError, e.what(), nullptr));
        return false;
    }
    for (const auto& n : nodes_) {
        if (!n->succeeded())
            return false;
    }
    return errors_->count() == 0;
}

bool TsOperation::progress(const std::string& step, size_t done, size_t total,
                           const TsOperationNodePtr& node) {
    ++stepsDone_;
    if (!monitor_)
        return true;
    const int opPercent =
        stepsTotal_ ? static_cast<int>(std::min<size_t>(100, stepsDone_ * 100 / stepsTotal_)) : 100;
    const int stepPercent = total ? static_cast<int>(std::min<size_t>(100, done * 100 / total)) : 100;
    return monitor_->progressReport(weak_from_this().lock(), opPercent,
                                    std::make_shared<TsOperationStep>(step), stepPercent, node) != 0;
}

bool TsOperation::failNode(const TsOperationNodePtr& node, const std::string& code,
                           const std::string& message) {
    if (node)
        node->setSucceeded(false);
    auto err = std::make_shared<TsOperationError>(code, message, node);
    errors_->append(err);
    if (!monitor_)
        return true;
    return monitor_->reportError(err) != 0;
}

bool TsOperation::ask(const std::string& question) {
    return monitor_ ? monitor_->getYesNoAnswer(question) : true;
}

void TsOperation::failRemaining(size_t from, const std::string& message) {
    for (size_t i = from; i < nodes_.size(); ++i) {
        if (nodes_[i]->succeeded())
            continue;
        if (!message.empty())
            errors_->append(std::make_shared<TsOperationError>(code::Cancelled, message, nodes_[i]));
    }
}

void TsLocalCopyOperation::confirmOverwrite(const std::string& target) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec)) && !ask("The file " + target + " exists. Overwrite it?"))
        fail(code::Cancelled, "The file " + target + " was kept");
}

void TsLocalCopyOperation::writeLocalCopy(TsSession& session, const ObjectRecord& current,
                                          const std::string& target) {
    confirmOverwrite(target);
    copyObjectContent(session.store().content(), current, target);
}

void TsLocalCopyOperation::writeLocalCopies(const LocalCopyTexts& texts, TsObjectList& written,
                                            const LocalCopyWriter& writeOne) {
    written.clear();
    stepsTotal_ = nodes_.size();
    if (nodes_.empty())
        return;
    const std::string dir = prepareDestination(destination_);
    std::set<std::string> claimed;
    // The folders found sound so far, by repository: most nodes share their folder.
    std::map<const RepositoryStore*, std::map<std::string, ObjectRecord>> soundFolders;
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const auto& node = nodes_[i];
        bool goOn = true;
        try {
            TsObject& obj = *node->object();
            ObjectRecord cur = currentRecord(obj);
            TsSession& session = obj.session();
            checkFolderLinks(session.store().storage(), cur, session.viewer(),
                             soundFolders[&session.store()]);
            const std::string file = claimLocalFile(cur, obj.session().store(), dir, claimed, texts.verb);
            node->setLocalPath(writeOne(obj, cur, file));
            node->setSucceeded(true);
            written.append(node->object());
        } catch (const TsException& e) {
            goOn = failNode(node, e.code(), e.message());
        }
        if (!goOn || !progress(texts.step, i + 1, nodes_.size(), node)) {
            failRemaining(i + 1, texts.stopped);
            return;
        }
    }
}

// ---- export

TsOperationNodePtr TsExportOperation::add(const TsObjectPtr& object) {
    return addOnce<TsOperationNode>(nodes_, object);
}

void TsExportOperation::run() {
    auto exportOne = [&](TsObject& obj, ObjectRecord& cur, const std::string& file) {
        if (!obj.isDirty())
            obj.adopt(cur);
        writeLocalCopy(obj.session(), cur, file);
        return file;
    };
    writeLocalCopies({"exported", "Export content", "The export was stopped"}, *exported_, exportOne);
}

// ---- check-out

TsOperationNodePtr TsCheckoutOperation::add(const TsObjectPtr& object) {
    return addOnce<TsCheckoutNode>(nodes_, object);
}

void TsCheckoutOperation::run() {
    auto checkOutOne = [&](TsObject& obj, ObjectRecord& cur, const std::string& file) {
        TsSession& session = obj.session();
        auto& storage = session.store().storage();
        const std::string target = fs::absolute(file).string();
        const std::string& user = session.userName();
        // Asked before the lock is taken: no transaction waits for the user's answer.
        confirmOverwrite(target);
        // The lock and the local copy go together: the lock commits once the file is written, so a
        // check-out cut short (the server gone, a copy that fails) leaves the document as it was.
        Transaction t(storage);
        // The lock is taken in one statement, so of two sessions racing for it exactly one wins. A
        // lock the user holds already for this very file (a check-out whose end they never saw) is
        // theirs to take again.
        if (!storage.lockObject(cur.id, user, target)) {
            auto now = storage.objectById(cur.id, session.viewer());
            // The holder may have checked it in since: then no name is left to give.
            if (!now || now->lockOwner != user || now->lockPath != target)
                fail(code::LockConflict,
                     "'" + cur.name + "' is already checked out by " +
                         (now && !now->lockOwner.empty() ? now->lockOwner : std::string("another user")));
        }
        // What is written is the version the lock holds: another check-in may have come between
        // reading the object and taking its lock.
        if (auto locked = storage.objectById(cur.id, session.viewer()))
            cur = *locked;
        copyObjectContent(session.store().content(), cur, target);
        try {
            t.commit();
        } catch (...) {
            // Without its lock the file is no check-out: it goes, and the failure is the node's.
            std::error_code ignored;
            fs::remove(target, ignored);
            throw;
        }
        cur.lockOwner = user;
        cur.lockPath = target;
        obj.adopt(cur);
        return target;
    };
    writeLocalCopies({"checked out", "Check out", "The check-out was stopped"}, *checkedOut_, checkOutOne);
}

// ---- import

TsOperationNodePtr TsImportOperation::add(const TsFileObjectPtr& file) {
    if (!file)
        return nullptr;
    auto node = std::make_shared<TsImportNode>(nullptr, file);
    node->setNewObjectName(file->name());
    nodes_.push_back(node);
    return node;
}

void TsImportOperation::run() {
    imported_->clear();
    stepsTotal_ = nodes_.size() + 1;
    if (!session_)
        fail(code::NotConnected, "The import has no session");
    if (!folder_)
        fail(code::BadArgument, "The import has no destination folder");
    auto folderObj = session_->objectById(folder_);
    if (!folderObj->record().isFolder())
        fail(code::BadArgument, "'" + folderObj->objectName() + "' is not a folder");
    // A folder name that breaks the name rule fails the whole import, before anything is staged.
    for (const auto& f : folders_) {
        for (const auto& name : f)
            checkObjectName(name);
    }
    for (const auto& n : nodes_) {
        for (const auto& name : std::static_pointer_cast<TsImportNode>(n)->subfolder())
            checkObjectName(name);
    }
    RepositoryStore& store = session_->store();
    std::vector<StagedContent> staged(nodes_.size());
    std::vector<bool> ready(nodes_.size(), false);
    try {
        {
            // A node whose name breaks the rule is not staged, and fails in its turn.
            std::vector<std::exception_ptr> refused(nodes_.size());
            std::vector<std::string> paths;
            for (size_t i = 0; i < nodes_.size(); ++i) {
                auto node = std::static_pointer_cast<TsImportNode>(nodes_[i]);
                try {
                    checkObjectName(node->newObjectName());
                    paths.push_back(node->file()->path());
                } catch (const TsException&) {
                    refused[i] = std::current_exception();
                    paths.emplace_back();
                }
            }
            Stager stager(store.content(), std::move(paths), staged);
            size_t failed = 0;
            for (size_t i = 0; i < nodes_.size(); ++i) {
                auto node = std::static_pointer_cast<TsImportNode>(nodes_[i]);
                bool goOn = true;
                try {
                    if (refused[i])
                        std::rethrow_exception(refused[i]);
                    stager.wait(i);
                    ready[i] = true;
                } catch (const TsException& e) {
                    ++failed;
                    goOn = failNode(node, e.code(), e.message());
                }
                if (!goOn || !progress("Transfer content", i + 1, nodes_.size(), node)) {
                    stager.stop();
                    store.content().discard(staged);
                    failRemaining(0, "The import was stopped");
                    return;
                }
            }
            if (allOrNothing_ && failed > 0)
                fail(code::Cancelled, "Nothing was imported: " + std::to_string(failed) + " of " +
                                          std::to_string(nodes_.size()) + " files could not be");
        }
        std::vector<ObjectRecord> made(nodes_.size());
        {
            // The content goes first (on the server before any row is locked), then the
            // metadata commits, with every folder the import makes.
            Transaction t(store.storage());
            store.content().publish(staged);
            auto folder = store.storage().objectById(folderObj->record().id, session_->viewer());
            if (!folder)
                fail(code::ObjectNotFound, "The destination folder no longer exists");
            const std::string now = nowText();
            std::map<std::vector<std::string>, ObjectRecord> folders{{{}, *folder}};
            // The folder below the destination at names, made when missing (parents first).
            auto folderAt = [&](const std::vector<std::string>& names) -> const ObjectRecord& {
                std::vector<std::string> path;
                const ObjectRecord* parent = &folders.at(path);
                for (const auto& name : names) {
                    path.push_back(name);
                    auto it = folders.find(path);
                    if (it == folders.end()) {
                        auto existing =
                            store.storage().objectByPath(parent->ownPath(), name, session_->viewer(), true);
                        ObjectRecord r;
                        if (existing) {
                            r = *existing;
                        } else {
                            r.id = store.newObjectId();
                            r.type = "ts_folder";
                            r.name = name;
                            r.owner = r.modifier = session_->userName();
                            r.versionLabel = "1.0";
                            r.created = r.modified = now;
                            r.folderId = parent->id;
                            r.parentPath = parent->ownPath();
                            r.cabinetId = parent->cabinetId;
                            r = store.storage().insertObject(r);
                        }
                        it = folders.emplace(path, std::move(r)).first;
                    }
                    parent = &it->second;
                }
                return *parent;
            };
            for (const auto& f : folders_)
                folderAt(f);
            for (size_t i = 0; i < nodes_.size(); ++i) {
                if (!ready[i])
                    continue;
                auto node = std::static_pointer_cast<TsImportNode>(nodes_[i]);
                const ObjectRecord& into = folderAt(node->subfolder());
                ObjectRecord& r = made[i];
                r.id = store.newObjectId();
                r.type = "ts_document";
                r.name = node->newObjectName();
                r.contentType = store.formatForFile(node->file()->name());
                r.owner = session_->userName();
                r.modifier = r.owner;
                r.versionLabel = "1.0";
                r.created = r.modified = now;
                r.folderId = into.id;
                r.parentPath = into.ownPath();
                r.cabinetId = into.cabinetId;
                r.contentHash = staged[i].hash;
                r.contentSize = staged[i].size;
                r = store.storage().insertObject(r, true);
            }
            t.commit();
        }
        for (size_t i = 0; i < nodes_.size(); ++i) {
            if (!ready[i])
                continue;
            auto obj = session_->objectFor(made[i]);
            nodes_[i]->setObject(obj);
            nodes_[i]->setSucceeded(true);
            imported_->append(obj);
        }
        progress("Commit", 1, 1, nullptr);
    } catch (...) {
        store.content().discard(staged);
        throw;
    }
}

// ---- check-in

TsOperationNodePtr TsCheckinOperation::add(const TsObjectPtr& object) {
    return addOnce<TsCheckinNode>(nodes_, object);
}

void TsCheckinOperation::run() {
    checkedIn_->clear();
    stepsTotal_ = nodes_.size() * 2;
    std::vector<StagedContent> staged(nodes_.size());
    std::vector<bool> ready(nodes_.size(), false);
    // Drops what staging left for a node, in its own repository's store.
    auto discardStaged = [&](size_t k) {
        if (!ready[k])
            return;
        std::vector<StagedContent> one{staged[k]};
        nodes_[k]->object()->session().store().content().discard(one);
        staged[k] = one[0];
    };
    // Content first, for every node; the metadata of each object then commits on its own.
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const auto& node = nodes_[i];
        bool goOn = true;
        try {
            TsObject& obj = *node->object();
            TsSession& session = obj.session();
            auto cur = session.store().storage().objectById(obj.record().id, session.viewer());
            if (!cur)
                fail(code::ObjectNotFound, "The object '" + obj.record().id + "' no longer exists");
            if (cur->lockOwner.empty())
                fail(code::NotCheckedOut, "'" + cur->name + "' is not checked out");
            if (cur->lockOwner != session.userName())
                fail(code::NotLockOwner, "'" + cur->name + "' is checked out by " + cur->lockOwner +
                                             ", not by " + session.userName());
            const std::string file = obj.pendingFile().empty() ? cur->lockPath : obj.pendingFile();
            if (file.empty() || !fs::is_regular_file(file))
                fail(code::FileError,
                     "The file to check in for '" + cur->name + "' (" + file + ") is missing");
            staged[i] = session.store().content().stage(file);
            ready[i] = true;
        } catch (const TsException& e) {
            goOn = failNode(node, e.code(), e.message());
        }
        if (!goOn || !progress("Transfer content", i + 1, nodes_.size(), node)) {
            for (size_t k = 0; k <= i; ++k)
                discardStaged(k);
            failRemaining(i + 1, "The check-in was stopped");
            return;
        }
    }
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const auto& node = nodes_[i];
        bool goOn = true;
        if (ready[i]) {
            TsObject& obj = *node->object();
            TsSession& session = obj.session();
            RepositoryStore& store = session.store();
            std::vector<StagedContent> one{staged[i]};
            try {
                Transaction t(store.storage());
                store.content().publish(one);
                auto cur = store.storage().objectById(obj.record().id, session.viewer());
                if (!cur)
                    fail(code::ObjectNotFound, "The object '" + obj.record().id + "' no longer exists");
                const std::string contentType = obj.pendingFile().empty() ? cur->contentType
                                                : obj.pendingFormat().empty()
                                                    ? store.formatForFile(obj.pendingFile())
                                                    : obj.pendingFormat();
                ObjectRecord r = store.storage().checkIn(cur->id, session.userName(), one[0].hash,
                                                         one[0].size, contentType);
                t.commit();
                if (!obj.pendingFile().empty() && obj.objectName() != cur->name)
                    r.name = obj.objectName();
                obj.adopt(r);
                obj.clearPendingFile();
                node->setSucceeded(true);
                checkedIn_->append(node->object());
            } catch (const TsException& e) {
                store.content().discard(one);
                goOn = failNode(node, e.code(), e.message());
            }
            staged[i].tempPath.clear();
        }
        if (!goOn || !progress("Commit", i + 1, nodes_.size(), node)) {
            for (size_t k = i + 1; k < nodes_.size(); ++k)
                discardStaged(k);
            failRemaining(i + 1, "The check-in was stopped");
            return;
        }
    }
}

} // namespace lf::tessarel
