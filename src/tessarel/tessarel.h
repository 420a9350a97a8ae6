#pragma once
// The Tessarel client library: the object model the program drives, one class per library object.
// Objects are shared (reference-counted) like the library's COM objects; every failing call throws
// TsException, whose description reads "[TS_CODE] message".
#include "tessarel/errors.h"
#include "tessarel/storage.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace lf::tessarel {

class RepositoryStore;
class TsClient;
class TsSession;
class TsObject;
class TsFolder;
class TsOperation;
class TsOperationNode;
class TsOperationError;

using TsObjectPtr = std::shared_ptr<TsObject>;
using TsFolderPtr = std::shared_ptr<TsFolder>;
using TsSessionPtr = std::shared_ptr<TsSession>;

class TsObjectId {
public:
    explicit TsObjectId(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }

private:
    std::string text_;
};
using TsObjectIdPtr = std::shared_ptr<TsObjectId>;

class TsFormat {
public:
    TsFormat(std::string name, std::string extension) : name_(std::move(name)), ext_(std::move(extension)) {}
    const std::string& name() const { return name_; }
    const std::string& fileExtension() const { return ext_; }

private:
    std::string name_;
    std::string ext_;
};
using TsFormatPtr = std::shared_ptr<TsFormat>;

// A list of library objects (repository objects, operation errors), indexed from 0.
template <class T> class TsList {
public:
    int count() const { return static_cast<int>(items_.size()); }
    std::shared_ptr<T> item(int index) const {
        if (index < 0 || index >= count())
            fail(code::BadArgument, "No list item at index " + std::to_string(index));
        return items_[static_cast<size_t>(index)];
    }
    void append(std::shared_ptr<T> item) { items_.push_back(std::move(item)); }
    void clear() { items_.clear(); }

private:
    std::vector<std::shared_ptr<T>> items_;
};
using TsObjectList = TsList<TsObject>;
using TsObjectListPtr = std::shared_ptr<TsObjectList>;
using TsErrorList = TsList<TsOperationError>;

class TsRepositoryList {
public:
    struct Entry {
        std::string name;
        std::string location;
    };
    explicit TsRepositoryList(std::vector<Entry> entries) : entries_(std::move(entries)) {}
    int count() const { return static_cast<int>(entries_.size()); }
    std::string nameAt(int index) const;
    std::string locationAt(int index) const;
    // The location of a listed repository; "" when it is not listed.
    std::string locationOf(const std::string& name) const;

private:
    std::vector<Entry> entries_;
};

class TsLoginInfo {
public:
    void setUser(std::string user) { user_ = std::move(user); }
    void setPassword(std::string password) { password_ = std::move(password); }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }

private:
    std::string user_;
    std::string password_;
};
using TsLoginInfoPtr = std::shared_ptr<TsLoginInfo>;

// Rows of a query, one at a time: next() is true while a row is current.
class TsCollection {
public:
    virtual ~TsCollection() = default;
    virtual bool next() = 0;
    // The row's value of an attribute of the select list.
    virtual std::string getString(const std::string& attribute) const = 0;
    virtual void close() = 0;
};
using TsCollectionPtr = std::shared_ptr<TsCollection>;

class TsSessionManager {
public:
    explicit TsSessionManager(std::shared_ptr<class TsLocalClient> local) : local_(std::move(local)) {}
    void setIdentity(const std::string& repository, TsLoginInfoPtr login);
    // Fails with TS_LOGIN_REFUSED, TS_UNKNOWN_REPOSITORY or TS_NO_IDENTITY.
    TsSessionPtr getSession(const std::string& repository);
    // Hands a session back; the caller may keep its reference and use it again.
    void release(const TsSessionPtr& session);

private:
    std::shared_ptr<class TsLocalClient> local_;
    std::unordered_map<std::string, TsLoginInfoPtr> identities_;
    std::unordered_map<std::string, TsSessionPtr> sessions_;
};
using TsSessionManagerPtr = std::shared_ptr<TsSessionManager>;

class TsLocalClient : public std::enable_shared_from_this<TsLocalClient> {
public:
    // tessarel.ini in the configuration folder ([Repositories], NAME=LOCATION); without it, every
    // repository folder under the data folder's tessarel/.
    std::shared_ptr<TsRepositoryList> repositoryList();
    TsSessionManagerPtr newSessionManager();
};
using TsLocalClientPtr = std::shared_ptr<TsLocalClient>;

class TsSession : public std::enable_shared_from_this<TsSession> {
public:
    TsSession(std::shared_ptr<RepositoryStore> store, std::string repositoryName, std::string user,
              bool administrator);
    const std::string& repositoryName() const { return repositoryName_; }
    const std::string& userName() const { return user_; }

    // Fails with TS_OBJECT_NOT_FOUND when the object does not exist or is not visible.
    TsObjectPtr objectById(const TsObjectIdPtr& id);
    TsObjectPtr objectById(const std::string& id);
    // Nothing when the path names no folder or cabinet.
    TsFolderPtr folderByPath(const std::string& path);
    // Nothing when the path names no object.
    TsObjectPtr objectByPath(const std::string& path);
    // A new, unsaved object of type ts_document, ts_folder or ts_cabinet.
    TsObjectPtr newObject(const std::string& type);
    TsCollectionPtr runQuery(const std::string& tql);

    // Library internals.
    RepositoryStore& store() { return *store_; }
    std::shared_ptr<RepositoryStore> storePtr() { return store_; }
    Viewer viewer() const;
    TsObjectPtr objectFor(const ObjectRecord& record);

private:
    std::shared_ptr<RepositoryStore> store_;
    std::string repositoryName_;
    std::string user_;
    bool administrator_;
    std::unordered_map<std::string, std::weak_ptr<TsObject>> objects_;
    size_t liveAtLastSweep_ = 0;
};

class TsObject : public std::enable_shared_from_this<TsObject> {
public:
    TsObject(TsSessionPtr session, std::unique_ptr<ObjectRecord> record, bool persisted);
    virtual ~TsObject();

    TsObjectIdPtr objectId() const;
    std::string objectName() const;
    void setObjectName(const std::string& name);
    std::string type() const;
    // The content's format; nothing when the object has no content format.
    TsFormatPtr format() const;
    // The folder path the object lives in (or will, once saved).
    std::string folderPath() const;
    void link(const std::string& folderPath);
    void save();
    bool isCheckedOut() const;
    std::string lockOwner() const;
    std::string versionLabel() const;
    bool isPrivate() const;
    void setPrivate(bool isPrivate);
    std::string getString(const std::string& attribute) const;
    // Copies the content to a local file; returns its path.
    std::string getFile(const std::string& localPath) const;
    // Sets the content (taken at save or check-in); the format comes from the file's extension
    // unless given.
    void setFile(const std::string& localPath, const std::string& format = "");
    void cancelCheckout();
    // Re-reads the object from the repository (dropping unsaved changes).
    void refresh();

    // Library internals.
    TsSession& session() const { return *session_; }
    const ObjectRecord& record() const { return *rec_; }
    ObjectRecord& record() { return *rec_; }
    const std::string& pendingFile() const { return pendingFile_; }
    const std::string& pendingFormat() const { return pendingFormat_; }
    void clearPendingFile();
    bool isDirty() const { return dirty_; }
    bool isPersisted() const { return persisted_; }
    void adopt(const ObjectRecord& r);

private:
    TsSessionPtr session_;
    std::unique_ptr<ObjectRecord> rec_;
    bool persisted_;
    bool dirty_ = false;
    std::string pendingFile_;
    std::string pendingFormat_;
    std::string linkedPath_; // a new folder to move to, "" for none
};

class TsFolder : public TsObject {
public:
    using TsObject::TsObject;
    // The folder's direct contents with the given attributes ("object_name,r_object_type").
    TsCollectionPtr contents(const std::string& attributes);
};

class TsFileObject {
public:
    explicit TsFileObject(std::string path);
    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string name_;
};
using TsFileObjectPtr = std::shared_ptr<TsFileObject>;

class TsOperationStep {
public:
    explicit TsOperationStep(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
};
using TsOperationStepPtr = std::shared_ptr<TsOperationStep>;

class TsOperationError {
public:
    TsOperationError(std::string code, std::string message, std::shared_ptr<TsOperationNode> node)
        : code_(std::move(code)), message_(std::move(message)), node_(std::move(node)) {}
    const std::string& getMessage() const { return message_; }
    const std::string& code() const { return code_; }
    std::shared_ptr<TsOperationNode> node() const { return node_; }

private:
    std::string code_;
    std::string message_;
    std::shared_ptr<TsOperationNode> node_;
};
using TsOperationErrorPtr = std::shared_ptr<TsOperationError>;

class TsParsedError {
public:
    TsParsedError(std::string code, std::string message)
        : code_(std::move(code)), message_(std::move(message)) {}
    const std::string& getMessage() const { return message_; }
    const std::string& code() const { return code_; }

private:
    std::string code_;
    std::string message_;
};
using TsParsedErrorPtr = std::shared_ptr<TsParsedError>;

// The program's callbacks, called synchronously on the calling thread from inside execute.
// A progress report or an error report that returns 0 stops the operation; any other value goes on.
class ITsOperationMonitor {
public:
    virtual ~ITsOperationMonitor() = default;
    virtual int progressReport(const std::shared_ptr<TsOperation>& operation, int operationPercentDone,
                               const TsOperationStepPtr& step, int stepPercentDone,
                               const std::shared_ptr<TsOperationNode>& node) = 0;
    virtual int reportError(const TsOperationErrorPtr& error) = 0;
    virtual bool getYesNoAnswer(const std::string& question) = 0;
};

class TsOperationNode {
public:
    TsOperationNode(TsObjectPtr object, TsFileObjectPtr file)
        : object_(std::move(object)), file_(std::move(file)) {}
    virtual ~TsOperationNode() = default;
    TsObjectPtr object() const { return object_; }
    TsFileObjectPtr file() const { return file_; }
    bool succeeded() const { return succeeded_; }
    // The local file the node wrote (export, check-out).
    const std::string& localPath() const { return localPath_; }

    // Library internals.
    void setSucceeded(bool ok) { succeeded_ = ok; }
    void setLocalPath(std::string p) { localPath_ = std::move(p); }
    void setObject(TsObjectPtr o) { object_ = std::move(o); }

private:
    TsObjectPtr object_;
    TsFileObjectPtr file_;
    bool succeeded_ = false;
    std::string localPath_;
};
using TsOperationNodePtr = std::shared_ptr<TsOperationNode>;

class TsImportNode : public TsOperationNode {
public:
    using TsOperationNode::TsOperationNode;
    void setNewObjectName(std::string name) { newName_ = std::move(name); }
    const std::string& newObjectName() const { return newName_; }
    // The folder below the operation's destination the new object goes into, as the names of the
    // folders from the destination down (none: the destination itself). Missing ones are made by
    // the import, in the same transaction as the objects.
    void setSubfolder(std::vector<std::string> names) { subfolder_ = std::move(names); }
    const std::vector<std::string>& subfolder() const { return subfolder_; }

private:
    std::string newName_;
    std::vector<std::string> subfolder_;
};

class TsCheckoutNode : public TsOperationNode {
public:
    using TsOperationNode::TsOperationNode;
    TsObjectIdPtr objectId() const { return object()->objectId(); }
};

class TsCheckinNode : public TsOperationNode {
public:
    using TsOperationNode::TsOperationNode;
    TsObjectIdPtr objectId() const { return object()->objectId(); }
};

class TsOperation : public std::enable_shared_from_this<TsOperation> {
public:
    explicit TsOperation(std::string name) : name_(std::move(name)) {}
    virtual ~TsOperation() = default;
    const std::string& name() const { return name_; }
    // Nothing when this operation does not take that kind of item; an operation that takes objects
    // fails with TS_BAD_ARGUMENT when given none.
    virtual TsOperationNodePtr add(const TsObjectPtr& object);
    virtual TsOperationNodePtr add(const TsFileObjectPtr& file);
    void setMonitor(std::shared_ptr<ITsOperationMonitor> monitor) { monitor_ = std::move(monitor); }
    // True only when every node succeeded.
    bool execute();
    std::shared_ptr<TsErrorList> errors() const { return errors_; }
    const std::vector<TsOperationNodePtr>& nodes() const { return nodes_; }

protected:
    virtual void run() = 0;
    // Reports progress for a node; false when the monitor stopped the operation.
    bool progress(const std::string& step, size_t done, size_t total, const TsOperationNodePtr& node);
    // Records a node's failure, tells the monitor; false when the monitor stopped the operation.
    bool failNode(const TsOperationNodePtr& node, const std::string& code, const std::string& message);
    bool ask(const std::string& question);
    void failRemaining(size_t from, const std::string& message);
    std::vector<TsOperationNodePtr> nodes_;
    size_t stepsDone_ = 0;
    size_t stepsTotal_ = 0;

private:
    std::string name_;
    std::shared_ptr<ITsOperationMonitor> monitor_;
    std::shared_ptr<TsErrorList> errors_ = std::make_shared<TsErrorList>();
};

// An operation that writes objects as local files into one folder: the export and the check-out.
class TsLocalCopyOperation : public TsOperation {
public:
    using TsOperation::TsOperation;
    void setDestinationDirectory(std::string dir) { destination_ = std::move(dir); }
    const std::string& destinationDirectory() const { return destination_; }

protected:
    // Fails with TS_CANCELLED when a file is at target and the monitor does not agree to replace it.
    void confirmOverwrite(const std::string& target);
    // Writes an object's content to a local file; a file already there is replaced only when the
    // monitor agrees (confirmOverwrite). Content that is missing, or whose bytes do not match its hash, fails
    // naming the object, and leaves nothing at target.
    void writeLocalCopy(TsSession& session, const ObjectRecord& current, const std::string& target);

    // The node loop. Each node's object, as the repository holds it now (`current`), gets a local
    // file of its own in the destination folder (made when missing), which `writeOne` writes,
    // returning the path the node records. A node that fails is reported and the loop goes on,
    // unless the monitor stops it; the objects written are listed in `written`.
    struct LocalCopyTexts {
        std::string verb;    // "exported": how a refused node's message says what was not done
        std::string step;    // the progress step of each node
        std::string stopped; // the message of the nodes left when the monitor stops the operation
    };
    using LocalCopyWriter =
        std::function<std::string(TsObject& object, ObjectRecord& current, const std::string& file)>;
    void writeLocalCopies(const LocalCopyTexts& texts, TsObjectList& written,
                          const LocalCopyWriter& writeOne);

private:
    std::string destination_;
};

class TsExportOperation : public TsLocalCopyOperation {
public:
    TsExportOperation() : TsLocalCopyOperation("Export") {}
    using TsOperation::add;
    TsOperationNodePtr add(const TsObjectPtr& object) override;
    TsObjectListPtr exportedObjects() const { return exported_; }

protected:
    void run() override;

private:
    TsObjectListPtr exported_ = std::make_shared<TsObjectList>();
};

class TsCheckoutOperation : public TsLocalCopyOperation {
public:
    TsCheckoutOperation() : TsLocalCopyOperation("Checkout") {}
    using TsOperation::add;
    TsOperationNodePtr add(const TsObjectPtr& object) override;
    TsObjectListPtr checkedOutObjects() const { return checkedOut_; }

protected:
    void run() override;

private:
    TsObjectListPtr checkedOut_ = std::make_shared<TsObjectList>();
};

class TsImportOperation : public TsOperation {
public:
    TsImportOperation() : TsOperation("Import") {}
    using TsOperation::add;
    TsOperationNodePtr add(const TsFileObjectPtr& file) override;
    void setSession(TsSessionPtr session) { session_ = std::move(session); }
    void setDestinationFolder(TsObjectIdPtr folderId) { folder_ = std::move(folderId); }
    // A folder below the destination (names from the destination down) that the import makes,
    // with any missing above it, even when no file goes into it.
    void addFolder(std::vector<std::string> names) { folders_.push_back(std::move(names)); }
    // All or nothing: when any node fails, nothing of the import commits, neither objects nor
    // folders. Otherwise (the default) the nodes that succeeded commit.
    void setAllOrNothing(bool allOrNothing) { allOrNothing_ = allOrNothing; }
    TsObjectListPtr importedObjects() const { return imported_; }

protected:
    void run() override;

private:
    TsSessionPtr session_;
    TsObjectIdPtr folder_;
    std::vector<std::vector<std::string>> folders_;
    bool allOrNothing_ = false;
    TsObjectListPtr imported_ = std::make_shared<TsObjectList>();
};

class TsCheckinOperation : public TsOperation {
public:
    TsCheckinOperation() : TsOperation("Checkin") {}
    using TsOperation::add;
    TsOperationNodePtr add(const TsObjectPtr& object) override;
    TsObjectListPtr checkedInObjects() const { return checkedIn_; }

protected:
    void run() override;

private:
    TsObjectListPtr checkedIn_ = std::make_shared<TsObjectList>();
};

class TsQuery {
public:
    void setTQL(std::string text) { tql_ = std::move(text); }
    const std::string& tql() const { return tql_; }
    // queryType 0 is the only kind: a read query. Fails on a malformed query.
    TsCollectionPtr execute(const TsSessionPtr& session, int queryType);

private:
    std::string tql_;
};
using TsQueryPtr = std::shared_ptr<TsQuery>;

class TsClient {
public:
    static std::shared_ptr<TsClient> create() { return std::make_shared<TsClient>(); }
    TsLocalClientPtr localClient();
    TsLoginInfoPtr newLoginInfo() { return std::make_shared<TsLoginInfo>(); }
    TsQueryPtr newQuery() { return std::make_shared<TsQuery>(); }
    TsObjectListPtr newObjectList() { return std::make_shared<TsObjectList>(); }
    // Fails with TS_BAD_ID unless the text is 16 hex digits.
    TsObjectIdPtr objectIdFromText(const std::string& text);
    // Nothing when the path is not a readable regular file.
    TsFileObjectPtr fileObject(const std::string& localPath);
    std::shared_ptr<TsExportOperation> newExportOperation() { return std::make_shared<TsExportOperation>(); }
    std::shared_ptr<TsImportOperation> newImportOperation() { return std::make_shared<TsImportOperation>(); }
    std::shared_ptr<TsCheckinOperation> newCheckinOperation() {
        return std::make_shared<TsCheckinOperation>();
    }
    std::shared_ptr<TsCheckoutOperation> newCheckoutOperation() {
        return std::make_shared<TsCheckoutOperation>();
    }
    // Nothing when the description is not of the form "[TS_CODE] message".
    TsParsedErrorPtr parsedError(const std::string& description);

private:
    TsLocalClientPtr local_;
};
using TsClientPtr = std::shared_ptr<TsClient>;

// The local file name an object's content gets: NAME when NAME already ends with ".EXT" (any case),
// NAME.EXT otherwise, NAME when the format has no extension.
std::string localFileName(const std::string& objectName, const std::string& extension);
// A name that can be a file in a folder without reaching outside it: not empty, not "." or "..",
// no path separators and no control characters.
bool isSafeFileName(const std::string& name);

} // namespace lf::tessarel
