// The main window's projects: open, save and save as, the unsaved-changes mark, the question at
// close, and the recovery copy of unsaved work.
#include "core/messages.h"
#include "table/export_readback.h"
#include "table/project_file.h"
#include "tree/project_tree.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"

#include "ui_main_form.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLockFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <utility>

namespace kelvara {

namespace {

constexpr int kRecoveryIntervalMs = 60'000;

QString fileNameOf(const QString& path) {
    return path.isEmpty() ? QString() : QFileInfo(path).fileName();
}

// The project beside a file: same folder and base name, the project's extension.
QString projectBeside(const QString& path) {
    const QFileInfo info(path);
    return info.dir().filePath(info.completeBaseName() + QString::fromUtf16(kProjectExtension));
}

}  // namespace

QString TfrmMainForm::recoveryPath() const {
    return path("recovery.kelvara");
}

void TfrmMainForm::setUpProjects() {
    const UiLanguage lang = env_.platform.language;
    QMenu* menu = menuBar()->addMenu(messageText(Msg::FileMenu, lang));
    menu->setObjectName(QStringLiteral("menuFile"));
    QAction* open = menu->addAction(messageText(Msg::OpenAction, lang));
    open->setObjectName(QStringLiteral("actionOpen"));
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, this, [this] {
        const QString start =
            QFileInfo(projectProposal_.isEmpty() ? exportPath_ : projectProposal_).absolutePath();
        if (const auto file = Dialogs::openFile(
                this, messageText(Msg::OpenFilter, env_.platform.language), {}, start)) {
            openFile(*file);
        }
    });
    QAction* save = menu->addAction(messageText(Msg::SaveAction, lang));
    save->setObjectName(QStringLiteral("actionSave"));
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, [this] { saveProject(); });
    QAction* saveAs = menu->addAction(messageText(Msg::SaveAsAction, lang));
    saveAs->setObjectName(QStringLiteral("actionSaveAs"));
    // Not every platform has a standard key for it.
    saveAs->setShortcut(QKeySequence(QKeySequence::SaveAs).isEmpty()
                            ? QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)
                            : QKeySequence(QKeySequence::SaveAs));
    connect(saveAs, &QAction::triggered, this, [this] { saveProjectAs(); });

    // Every change of the tree or the query box is unsaved work; the main-page column alone
    // follows the stored results, and the weak-link marks follow the last run: neither is an edit.
    const auto changed = [this] { setProjectModified(true); };
    connect(&model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                const bool mainPagesOnly =
                    from.column() == tcMainPages && to.column() == tcMainPages;
                const bool marksOnly = roles == QList<int>{WeakRole};
                if (!mainPagesOnly && !marksOnly) {
                    setProjectModified(true);
                }
            });
    connect(&model_, &QAbstractItemModel::rowsInserted, this, changed);
    connect(&model_, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(&model_, &QAbstractItemModel::rowsMoved, this, changed);
    connect(&model_, &QAbstractItemModel::layoutChanged, this, changed);
    connect(&model_, &QAbstractItemModel::modelReset, this, changed);
    connect(ui->Memo1, &QPlainTextEdit::textChanged, this, changed);

    recoveryLock_ = std::make_unique<QLockFile>(recoveryPath() + QStringLiteral(".lock"));
    // Only a lock whose process is gone is stale: a window may stay open for days.
    recoveryLock_->setStaleLockTime(0);
    if (!recoveryLock_->tryLock(0)) {
        recoveryLock_.reset();
    }
    recoveryTimer_.setInterval(kRecoveryIntervalMs);
    connect(&recoveryTimer_, &QTimer::timeout, this, [this] {
        if (projectModified_ && recoveryDue_) {
            writeRecovery();
        }
    });
    recoveryTimer_.start();

    updateCaption();
    // After the window is up; a file named on the command line only after the question, which
    // waits in an event loop of its own.
    QTimer::singleShot(0, this, [this] {
        offerRecovery();
        if (!startFile_.isEmpty()) {
            openFile(std::exchange(startFile_, QString()));
        }
    });
}

void TfrmMainForm::setProjectModified(bool modified) {
    projectModified_ = modified;
    if (modified) {
        recoveryDue_ = true;
    }
    setWindowModified(modified);
}

void TfrmMainForm::updateCaption() {
    const QString program =
        messageText(Msg::VersionCaption, env_.platform.language, {GetVersionText(true)});
    setWindowTitle(documentName_.isEmpty() ? program + QStringLiteral("[*]")
                                           : documentName_ + QStringLiteral("[*] - ") + program);
    setWindowModified(projectModified_);
}

bool TfrmMainForm::askToKeepChanges() {
    if (!projectModified_) {
        return true;
    }
    switch (Dialogs::question(this, messageText(Msg::KeepChanges, env_.platform.language),
                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel)) {
        case QMessageBox::Save:
            return saveProject();
        case QMessageBox::Discard:
            return true;
        default:
            return false;
    }
}

Project TfrmMainForm::currentProject() const {
    Project p;
    p.queries = ui->Memo1->toPlainText();
    p.hardMethod = ui->RadioButton2->isChecked();
    p.threshold = threshold();
    // The results belong to the region the tree was clustered for; before any tree, the work
    // is that of the region chosen.
    p.region =
        model_.GetClusterCount() > 0 ? treeRegion_ : selectedRegion().value_or(kDefaultRegion);
    p.clusters = projectClusters(model_);
    if (const ResultStore* store = model_.resultStore()) {
        p.results = projectResults(p.clusters, *store);
    }
    return p;
}

void TfrmMainForm::applyProject(const Project& project, const QString& file, bool modified) {
    ui->Memo1->setPlainText(project.queries);
    if (project.hardMethod) {
        chooseHardMethod();
    } else {
        ui->RadioButton1->setChecked(true);
        RadioButton1Click();
    }
    chooseThreshold(project.threshold);
    // A region this machine's list lacks leaves the box as it is; the tree keeps its region.
    if (findRegion(regions_, project.region) >= 0) {
        selectRegion(project.region);
    }
    treeRegion_ = project.region;
    ResultStore& store = FGlobalList.of(treeRegion_);
    mergeProjectResults(store, project.results);
    model_.setResultStore(&store);
    fillTreeFromProject(model_, project.clusters);
    ui->lbCountText->setText(model_.countText());
    ui->Button4->setEnabled(!project.clusters.empty());

    projectPath_ = file;
    documentName_ = fileNameOf(file);
    projectProposal_ = file;
    setProjectModified(modified);
    if (!modified) {
        removeRecovery();  // the work it kept was given up or saved
    }
    updateCaption();
}

bool TfrmMainForm::openFile(const QString& file) {
    const UiLanguage lang = env_.platform.language;
    const auto refuse = [&](const QString& why) {
        Dialogs::error(this,
                       messageText(Msg::CannotOpen, lang, {QDir::toNativeSeparators(file), why}));
        return false;
    };
    ReadResult read = readWholeFile(file, kProjectReadLimit);
    if (read.missing) {
        return refuse(QStringLiteral("No such file or directory"));
    }
    if (read.error) {
        return refuse(read.error->reason);
    }
    const bool named = file.endsWith(QString::fromUtf16(kProjectExtension), Qt::CaseInsensitive);
    if (!looksLikeProject(read.bytes) && !named) {
        return openExport(file, read.bytes);
    }
    // Everything is checked before the current work is touched.
    const ProjectRead project = parseProject(read.bytes);
    if (!project.project) {
        return refuse(projectErrorText(project.error, lang));
    }
    if (!askToKeepChanges()) {
        return false;
    }
    applyProject(*project.project, file, false);
    return true;
}

bool TfrmMainForm::openExport(const QString& file, const QByteArray& bytes) {
    const UiLanguage lang = env_.platform.language;
    const ExportRead read = parseExport(decodeTextFile(bytes, codec_));
    if (!read.clusters) {
        Dialogs::error(
            this, messageText(Msg::CannotOpen, lang,
                              {QDir::toNativeSeparators(file), exportReadProblem(read, lang)}));
        return false;
    }
    if (!askToKeepChanges()) {
        return false;
    }
    // The export keeps neither the query box nor the checks: the box gets the phrases (the
    // queries of the run it came from), and the results come from the store of the region chosen.
    Project p;
    QStringList phrases;
    for (const Cluster& c : *read.clusters) {
        ProjectCluster pc{c.caption, false, {}};
        for (const QString& phrase : c.phrases) {
            pc.phrases.push_back(ProjectPhrase{phrase, false});
            phrases.append(phrase);
        }
        p.clusters.push_back(std::move(pc));
    }
    p.queries = phrases.join(u'\n');
    p.hardMethod = ui->RadioButton2->isChecked();
    p.threshold = threshold();
    p.region = selectedRegion().value_or(kDefaultRegion);
    applyProject(p, QString(), false);
    // Saving must not write a project over the export: it is named, but saved only "as".
    documentName_ = fileNameOf(file);
    projectProposal_ = projectBeside(file);
    updateCaption();
    return true;
}

bool TfrmMainForm::saveProject() {
    return projectPath_.isEmpty() ? saveProjectAs() : saveProjectTo(projectPath_);
}

bool TfrmMainForm::saveProjectAs() {
    QString proposal = projectProposal_;
    if (proposal.isEmpty()) {
        const QFileInfo last(exportPath_);
        proposal = (last.isDir() ? QDir(exportPath_) : last.dir())
                       .filePath(QStringLiteral("project") + QString::fromUtf16(kProjectExtension));
    }
    const auto chosen =
        Dialogs::saveFile(this, proposal, messageText(Msg::SaveFilter, env_.platform.language));
    if (!chosen) {
        return false;
    }
    return saveProjectTo(withProjectExtension(*chosen));
}

bool TfrmMainForm::saveProjectTo(const QString& file) {
    if (auto err = kelvara::saveProject(file, currentProject())) {
        Dialogs::error(this, messageText(Msg::NotSaved, env_.platform.language, {err->message()}));
        return false;
    }
    projectPath_ = file;
    documentName_ = fileNameOf(file);
    projectProposal_ = file;
    setProjectModified(false);
    removeRecovery();
    updateCaption();
    return true;
}

void TfrmMainForm::writeRecovery() {
    // Not while a thread of a run reads the stored results.
    if (!recoveryLock_ || (controller_ && controller_->running())) {
        return;
    }
    Project p = currentProject();
    p.origin = projectPath_;
    // A copy that cannot be written is tried again at the next tick; the work itself is whole.
    if (!kelvara::saveProject(recoveryPath(), p)) {
        recoveryDue_ = false;
    }
}

void TfrmMainForm::removeRecovery() {
    if (recoveryLock_) {
        QFile::remove(recoveryPath());
    }
    recoveryDue_ = projectModified_;
}

void TfrmMainForm::offerRecovery() {
    const QFileInfo copy(recoveryPath());
    if (!recoveryLock_ || !copy.exists()) {
        return;
    }
    const UiLanguage lang = env_.platform.language;
    const QString when = QLocale(lang == UiLanguage::Russian ? QLocale::Russian : QLocale::English)
                             .toString(copy.lastModified(), QLocale::ShortFormat);
    if (Dialogs::question(this, messageText(Msg::RestoreQuestion, lang, {when}),
                          QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        QFile::remove(recoveryPath());
        return;
    }
    const ProjectRead read = loadProject(recoveryPath());
    if (!read.project) {
        Dialogs::error(this, messageText(Msg::CannotOpen, lang,
                                         {QDir::toNativeSeparators(recoveryPath()),
                                          read.fileError ? read.fileError->reason
                                                         : projectErrorText(read.error, lang)}));
        return;
    }
    // The work comes back as it was: unsaved, and named after its project file if it had one.
    applyProject(*read.project, read.project->origin, true);
}

}  // namespace kelvara
