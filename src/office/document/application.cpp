// The application and its documents: made from templates, opened, counted, closed with it.
#include "office/document/word.h"

#include "office/document/doc_state.h"
#include "office/document/wml.h"

#include <algorithm>

namespace lf::word {

// ----------------------------------------------------------------------------------- Documents

Document Documents::track(std::shared_ptr<DocState> doc) {
    open_.erase(std::remove_if(open_.begin(), open_.end(), [](const auto& d) { return d->closed; }),
                open_.end());
    doc->printEngine = printEngine_;
    doc->activePrinter = activePrinter_;
    open_.push_back(doc);
    return Document(std::move(doc));
}

std::optional<Document> Documents::add(const std::filesystem::path& templateFile) {
    lastError_.clear();
    try {
        if (quit_ && *quit_)
            throw DocumentError("Word has quit");
        auto doc = DocState::load(opc::Package::openTemplate(templateFile), templateFile.string());
        doc->displayName = "Document" + std::to_string(++untitled_);
        // A template's content type becomes a document's.
        const std::string type = doc->package->contentType(doc->mainPart);
        if (type == contenttype::kTemplate)
            doc->package->setContentType(doc->mainPart, contenttype::kDocument);
        else if (type == contenttype::kMacroTemplate)
            doc->package->setContentType(doc->mainPart, contenttype::kMacroDocument);
        return track(std::move(doc));
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return std::nullopt;
    }
}

Document Documents::open(const std::filesystem::path& file) {
    if (quit_ && *quit_)
        throw DocumentError("Word has quit");
    auto doc = DocState::load(opc::Package::open(file, {}, opc::Access::Write), file.string());
    doc->file = file;
    doc->displayName = file.filename().string();
    return track(std::move(doc));
}

int Documents::count() const {
    return static_cast<int>(
        std::count_if(open_.begin(), open_.end(), [](const auto& d) { return !d->closed; }));
}

Document Documents::item(int index) const {
    int n = 0;
    for (const auto& d : open_)
        if (!d->closed && ++n == index)
            return Document(d);
    throw DocumentError("there is no open document " + std::to_string(index));
}

// --------------------------------------------------------------------------------- Application

Application::Application() {
    documents_.quit_ = &quit_;
    documents_.activePrinter_ = &activePrinter_;
}

void Application::setActivePrinter(const std::string& printer) {
    // An empty name is no printer: the application's printer as it was before one was chosen.
    if (documents_.printEngine_ && !printer.empty()) {
        try {
            documents_.printEngine_->checkPrinter(printer);
        } catch (const printing::PrintError& e) {
            throw DocumentError("Application.ActivePrinter: " + std::string(e.what()));
        }
    }
    activePrinter_ = printer;
}

Application::~Application() {
    quit();
}

Documents& Application::documents() {
    if (quit_)
        throw DocumentError("Word has quit");
    return documents_;
}

void Application::setWindowState(int state) {
    if (state < office::wdWindowStateNormal || state > office::wdWindowStateMinimize)
        throw DocumentError(std::to_string(state) + " is not a window state");
    windowState_ = state;
}

void Application::quit() {
    for (auto& d : documents_.open_)
        if (!d->closed) {
            d->closed = true;
            d->package.reset();
        }
    documents_.open_.clear();
    quit_ = true;
}

} // namespace lf::word
