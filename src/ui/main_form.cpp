#include "ui/main_form.h"

#include "core/messages.h"
#include "core/window_rules.h"
#include "search/cache.h"
#include "table/csv_export.h"
#include "table/query_import.h"
#include "tree/tree_undo.h"
#include "ui/about_form.h"
#include "ui/cluster_tree_view.h"
#include "ui/dialogs.h"
#include "ui/link_controls.h"
#include "ui/progress_form.h"
#include "ui/url_list_form.h"

#include "ui_main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace kelvara {

namespace {

// The progress window as the run controller drives it.
class ProgressFormView final : public ProgressView {
public:
    explicit ProgressFormView(TfrmProgressForm* form) : form_(form) {}
    void setCaption(const QString& text) override { form_->setWindowTitle(text); }
    void setExplanation(const QString& text) override { form_->StaticText1()->setText(text); }
    void setCountText(const QString& text) override { form_->StaticText2()->setText(text); }
    void setCountVisible(bool visible) override { form_->StaticText2()->setVisible(visible); }
    void setButtonCaption(const QString& text) override { form_->BitBtn1()->setText(text); }
    void setProgress(int minimum, int maximum, int position) override {
        form_->ProgressBar1()->setRange(minimum, std::max(minimum, maximum));
        form_->ProgressBar1()->setValue(position);
    }
    void execModal(const std::function<void()>& onShown) override {
        const auto c = QObject::connect(form_, &TfrmProgressForm::shown, form_, onShown,
                                        Qt::SingleShotConnection);
        form_->exec();
        QObject::disconnect(c);
    }
    void close() override { form_->accept(); }

private:
    TfrmProgressForm* form_;
};

class ErrorBoxes final : public ErrorView {
public:
    explicit ErrorBoxes(QWidget* parent) : parent_(parent) {}
    void showError(const QString& text) override { Dialogs::error(parent_, text); }
    void showNotice(const QString& text) override { Dialogs::information(parent_, text); }
    bool confirm(const QString& text) override {
        return Dialogs::question(parent_, text) == QMessageBox::Yes;
    }

private:
    QWidget* parent_;
};

}  // namespace

TfrmMainForm::TfrmMainForm(Environment env, QWidget* parent)
    : QMainWindow(parent),
      env_(std::move(env)),
      codec_(env_.platform.codePage),
      ui(std::make_unique<Ui::frmMainForm>()) {
    ui->setupUi(this);
    vdtList = new ClusterTreeView(ui->treeSlot);
    vdtList->setObjectName(QStringLiteral("vdtList"));
    ui->treeSlotLayout->addWidget(vdtList);
    // The tree is made here, not in the form: its place in the tab order is between the two
    // buttons of the panes.
    setTabOrder(ui->Button1, vdtList);
    setTabOrder(vdtList, ui->Button4);
    vdtList->setClusterModel(&model_);
    model_.setResultStore(&FGlobalList.of(treeRegion_));

    connect(ui->Memo1, &QPlainTextEdit::textChanged, this, &TfrmMainForm::UpdateQueryCount);
    // The URL box's changes count too, so that filling it after the queries enables the button.
    connect(ui->LabeledEdit2, &QLineEdit::textChanged, this, &TfrmMainForm::UpdateQueryCount);
    connect(ui->RadioButton1, &QRadioButton::clicked, this, &TfrmMainForm::RadioButton1Click);
    connect(ui->RadioButton2, &QRadioButton::clicked, this, &TfrmMainForm::RadioButton2Click);
    connect(ui->Splitter1, &QSplitter::splitterMoved, this, &TfrmMainForm::Splitter1Moved);
    connect(ui->Button1, &QPushButton::clicked, this, &TfrmMainForm::Button1Click);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TfrmMainForm::BitBtn1Click);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &TfrmMainForm::BitBtn2Click);
    connect(ui->Button4, &QPushButton::clicked, this, &TfrmMainForm::Button4Click);
    connect(&model_, &ClusterTreeModel::countTextChanged, ui->lbCountText, &QLabel::setText);
    connect(vdtList, &ClusterTreeView::linkClicked, this, &TfrmMainForm::vdtListNodeClick);
    // Undo and redo: window-wide keys, and the first two entries of the tree's menu.
    const UiLanguage lang = env_.platform.language;
    QAction* undo = undoStack_.createUndoAction(this, GetMessageText(Msg::Undo, lang));
    QAction* redo = undoStack_.createRedoAction(this, GetMessageText(Msg::Redo, lang));
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    undo->setObjectName(QStringLiteral("actUndo"));
    redo->setObjectName(QStringLiteral("actRedo"));
    addActions({undo, redo});
    vdtList->setUndoStack(&undoStack_, undo, redo);
    // A tree filled past the stack frees the nodes its steps name.
    connect(&model_, &ClusterTreeModel::nodesDiscarded, &undoStack_, &QUndoStack::clear);
    links_ = new LinkControls(path("ignored-hosts.txt"), codec_, env_.platform.language, this);
    ui->secondRow->insertWidget(1, links_->button());
    links_->attachTree(vdtList, &model_);
    // The controls made after the form join the tab order where they stand on screen.
    setTabOrder(ui->cbRegion, ui->sbThreads);
    setTabOrder(ui->sbThreads, ui->BitBtn2);
    setTabOrder(ui->BitBtn1, links_->button());
    setTabOrder(links_->button(), ui->Memo1);

    FormCreate();

    // The about window, then the progress window, as at program start.
    aboutForm_ = new TfrmAboutForm(env_.platform.language, env_.opener, this);
    progressForm_ = new TfrmProgressForm(this);
    progressView_ = std::make_unique<ProgressFormView>(progressForm_);
    errorView_ = std::make_unique<ErrorBoxes>(this);
    controller_ = std::make_unique<RunController>(FGlobalList, env_.search, *progressView_,
                                                  *errorView_, env_.platform.language);
    saver_ = std::make_unique<CacheSaver>(path("cache.txt"));
    controller_->setCacheSaver(saver_.get());
    controller_->setOperationStore(std::make_shared<OperationStore>(path("operations.txt")));
    connect(controller_.get(), &RunController::clustersBuilt, this,
            &TfrmMainForm::BuildClusterTree);
    setUpProjects();

    keepEveryControlWhole();
    resize(897, 597);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TfrmMainForm::~TfrmMainForm() {
    FormDestroy();
}

QString TfrmMainForm::path(const char* file) const {
    return env_.platform.executableDir + QString::fromLatin1(file);
}

void TfrmMainForm::FormCreate() {
    const UiLanguage lang = env_.platform.language;
    FManualSize = -1.0;
    QStringList problems;

    FCfg = std::make_unique<ProfileFile>(path("settings.ini"), codec_);
    if (auto err = FCfg->load()) {
        problems << err->message();
    }
    // A region list that cannot be read is reported; the settings and the cache are still read,
    // so that shut-down writes them back unchanged.
    RegionsResult regions = LoadRegions(path("regions.txt"), codec_);
    if (regions.error) {
        problems << regions.error->message();
    }
    regions_ = std::move(regions.items);
    for (const RegionItem& item : regions_) {
        ui->cbRegion->addItem(item.text, item.code);
    }
    ui->cbRegion->setCurrentIndex(-1);
    LoadSettings(*FCfg, *this);
    links_->load(*FCfg, problems);
    fetchSettings_ = readFetchSettings(*FCfg);
    ui->sbThreads->setValue(fetchSettings_.threads);
    const Stamp now = env_.platform.clock();
    // A cache of an older version holds the results of the region it was asked for then.
    if (auto err = LoadCache(FGlobalList, path("cache.txt"), now, codec_, settingsRegion(*FCfg))) {
        problems << err->message();
    }
    exportPath_ = QDir::currentPath();

    QApplication::setApplicationDisplayName(GetMessageText(Msg::MainCaption, lang));
    setWindowTitle(messageText(Msg::VersionCaption, lang, {GetVersionText(true)}));
    ui->LabeledEdit2Label->setText(GetMessageText(Msg::UrlLabel, lang));
    ui->Label2->setText(messageText(Msg::QueriesLabel, lang, {QStringLiteral("0")}));
    ui->GroupBox1->setTitle(GetMessageText(Msg::MethodFrame, lang));
    ui->lbThreads->setText(GetMessageText(Msg::ThreadsLabel, lang));
    ui->Button1->setText(GetMessageText(Msg::ClusterButton, lang));
    ui->lbCountText->setText(model_.countText());
    UpdateQueryCount();

    if (!problems.isEmpty()) {
        // After the window is up, so that it opens all the same.
        QTimer::singleShot(0, this,
                           [this, problems] { Dialogs::error(this, problems.join(u'\n')); });
    }
}

void TfrmMainForm::closeEvent(QCloseEvent* event) {
    if (!destroyed_ && !askToKeepChanges()) {
        event->ignore();
        return;
    }
    FormDestroy();
    removeRecovery();  // a normal close: nothing is left to recover
    recoveryLock_.reset();
    event->accept();
}

void TfrmMainForm::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    if (controller_) {
        controller_->ResetWorkList();
        controller_->StopGroupingThread();
    }
    QStringList problems;
    if (auto err = saver_ ? saver_->save(FGlobalList) : SaveCache(FGlobalList, path("cache.txt"))) {
        problems << err->message();
    }
    SaveSettings(*FCfg, *this);
    links_->save(*FCfg);
    // A user who never touched it keeps the file as it was.
    if (ui->sbThreads->value() != 1 || fetchSettings_.threads != 1) {
        writeFetchThreads(*FCfg, ui->sbThreads->value());
    }
    if (auto err = FCfg->flush()) {
        problems << err->message();
    }
    if (!problems.isEmpty()) {
        Dialogs::error(this, problems.join(u'\n'));
    }
}

void TfrmMainForm::keepEveryControlWhole() {
    // The form's minimum is a floor for its design font; the texts of either language and the
    // system's font may need more. Each pane gets half the width until the splitter is moved,
    // so the window must give each half the wider pane's minimum.
    const QSize layout = centralWidget()->minimumSizeHint();
    const int pane =
        std::max(ui->Panel2->minimumSizeHint().width(), ui->Panel3->minimumSizeHint().width());
    const QMargins m = ui->mainLayout->contentsMargins();
    const int width = std::max({minimumWidth(), layout.width(),
                                2 * pane + ui->Splitter1->handleWidth() + m.left() + m.right()});
    setMinimumSize(width, std::max(minimumHeight(), layout.height()));
}

void TfrmMainForm::UpdateQueryCount() {
    const int lines = queryLineCount(ui->Memo1->toPlainText());
    ui->Button1->setEnabled(clusterButtonEnabled(ui->LabeledEdit2->text(), lines));
    ui->Label2->setText(
        messageText(Msg::QueriesLabel, env_.platform.language, {QString::number(lines)}));
}

void TfrmMainForm::RadioButton1Click() {
    ui->cbPorog->setCurrentIndex(defaultThreshold(false) - kMinThreshold);
}
void TfrmMainForm::RadioButton2Click() {
    ui->cbPorog->setCurrentIndex(defaultThreshold(true) - kMinThreshold);
}

void TfrmMainForm::Splitter1Moved() {
    const int available = ui->Panel1->width() - ui->Splitter1->handleWidth();
    FManualSize = manualShare(ui->Panel2->width(), available);
}

void TfrmMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TfrmMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FormResize();
}

void TfrmMainForm::FormResize() {
    // The working area follows the window first.
    if (QLayout* l = centralWidget()->layout()) {
        l->activate();
    }
    const int available = ui->Panel1->width() - ui->Splitter1->handleWidth();
    const int left = leftPaneWidth(available, FManualSize);
    ui->Splitter1->setSizes({left, available - left});
    QHeaderView* header = vdtList->header();
    int others = 0;
    for (int c = 1; c < header->count(); ++c) {
        others += header->sectionSize(c);
    }
    header->resizeSection(
        0, std::max(header->minimumSectionSize(), firstColumnWidth(available - left, others)));
}

void TfrmMainForm::Button1Click() {
    RunRequest request;
    request.lines = queryLines(ui->Memo1->toPlainText());
    request.serviceUrl = ui->LabeledEdit2->text();
    request.regionCode = selectedRegion();
    runRegion_ = request.regionCode.value_or(kDefaultRegion);
    request.hardMethod = ui->RadioButton2->isChecked();
    request.threshold = threshold();
    request.threads = ui->sbThreads->value();
    request.maxRps = fetchSettings_.maxRps;
    request.confirmLargeFetch = fetchSettings_.confirmLargeFetch;
    request.pricePer1000 = fetchSettings_.pricePer1000;
    request.deferred = fetchSettings_.deferred;
    request.operationsUrl = fetchSettings_.operationsUrl;
    request.links = links_->startRun(request.hardMethod, request.threshold);
    controller_->Button1Click(request);
}

ResultStore& TfrmMainForm::store() {
    return FGlobalList.of(selectedRegion().value_or(kDefaultRegion));
}

void TfrmMainForm::BuildClusterTree(const ClusterList& clusters) {
    // The tree shows the URLs and main pages of the region it was clustered for.
    treeRegion_ = runRegion_;
    // One step of its own: undo brings the edited tree back.
    replaceTree(&undoStack_, model_, vdtList, clusters, &FGlobalList.of(treeRegion_));
    links_->runFinished(clusters, model_.resultStore(), &controller_->runLines());
    ui->lbCountText->setText(model_.countText());
    ui->Button4->setEnabled(true);
    writeRecovery();  // a run's result is worth keeping at once
}

void TfrmMainForm::BitBtn1Click() {
    aboutForm_->exec();
}

void TfrmMainForm::BitBtn2Click() {
    if (ImportCsv()) {
        Button1Click();
    }
}

bool TfrmMainForm::ImportCsv() {
    const auto file = Dialogs::openFile(this, QStringLiteral("CSV (*.csv)"), QStringLiteral("csv"));
    if (!file) {
        return true;
    }
    return importFile(*file);
}

void TfrmMainForm::importAndRun(const QString& file) {
    if (importFile(file)) {
        Button1Click();
    }
}

bool TfrmMainForm::importFile(const QString& file) {
    // The imported results serve the region the run after the import asks for. An import that
    // finds nothing adds nothing to the store; the box and the tree keep the user's work then.
    const ImportResult r = kelvara::ImportCsv(file, store(), env_.platform.clock, codec_);
    if (r.error) {
        Dialogs::error(this, r.error->message());
        return false;
    }
    if (r.lines.isEmpty()) {
        const UiLanguage lang = env_.platform.language;
        Dialogs::error(this, messageText(Msg::ImportNothing, lang,
                                         {QDir::toNativeSeparators(file), importProblem(r, lang)}));
        return false;
    }
    ui->Memo1->setPlainText(r.lines.join(u'\n'));
    model_.notifyResultsChanged();
    return true;
}

void TfrmMainForm::Button4Click() {
    const QString proposed = QFileInfo(exportPath_).isDir()
                                 ? QDir(exportPath_).filePath(QStringLiteral("grouped.csv"))
                                 : exportPath_;
    const auto chosen = Dialogs::saveFile(this, proposed, QStringLiteral("CSV (*.csv)"));
    if (!chosen) {
        return;
    }
    exportPath_ = withCsvExtension(*chosen);
    if (auto err = ExportCsv(exportPath_, model_.content(), *model_.resultStore(),
                             env_.platform.language, codec_)) {
        Dialogs::error(this, err->message());
    }
}

void TfrmMainForm::vdtListNodeClick(const QModelIndex& node, int level) {
    const TreeNode* n = model_.nodeOf(node);
    if (!n) {
        return;
    }
    TForm1 form(*model_.resultStore(), *n, level, env_.opener, this, env_.platform.language);
    form.exec();
}

// ---- SettingsControls ----------------------------------------------------------------------

QString TfrmMainForm::serviceUrl() const {
    return ui->LabeledEdit2->text();
}
void TfrmMainForm::setServiceUrl(const QString& url) {
    ui->LabeledEdit2->setText(url);
}
bool TfrmMainForm::hardMethod() const {
    return ui->RadioButton2->isChecked();
}
void TfrmMainForm::chooseHardMethod() {
    ui->RadioButton2->setChecked(true);
    RadioButton2Click();
}
int TfrmMainForm::threshold() const {
    return ui->cbPorog->currentIndex() + kMinThreshold;
}
bool TfrmMainForm::chooseThreshold(int value) {
    if (value < kMinThreshold || value >= kMinThreshold + ui->cbPorog->count()) {
        return false;
    }
    ui->cbPorog->setCurrentIndex(value - kMinThreshold);
    return true;
}
bool TfrmMainForm::selectRegion(int code) {
    const qsizetype i = findRegion(regions_, code);
    ui->cbRegion->setCurrentIndex(int(i));
    return i >= 0;
}
std::optional<int> TfrmMainForm::selectedRegion() const {
    const int i = ui->cbRegion->currentIndex();
    if (i < 0 || i >= int(regions_.size())) {
        return std::nullopt;
    }
    return regions_[size_t(i)].code;
}

}  // namespace kelvara
