#include "ui/link_controls.h"

#include "core/link_settings.h"
#include "tree/cluster_tree_model.h"
#include "ui/cluster_tree_view.h"
#include "ui/dialogs.h"
#include "ui/why_together_form.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvara {

namespace {

QString tx(UiLanguage language, const char16_t* english, const char16_t* russian) {
    return QString::fromUtf16(language == UiLanguage::Russian ? russian : english);
}

}  // namespace

LinkOptionsForm::LinkOptionsForm(const QString& hostsText, bool byHost, UiLanguage language,
                                 QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("LinkOptionsForm"));
    setWindowTitle(tx(language, u"What links queries", u"Что связывает запросы"));
    resize(520, 420);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(
        tx(language,
           u"Hosts left out of the clustering, one a line (\"*.example.com\": that host and every "
           u"host below it; \"#\" starts a comment). Their URLs stay in the stored results, the "
           u"URL lists and the export.",
           u"Хосты, которые не учитываются при кластеризации, по одному в строке "
           u"(\"*.example.com\" — этот хост и все хосты под ним; \"#\" начинает комментарий). "
           u"Их URL остаются в сохранённых результатах, списках URL и экспорте."),
        this);
    label->setWordWrap(true);
    layout->addWidget(label);
    hosts_ = new QPlainTextEdit(this);
    hosts_->setObjectName(QStringLiteral("hosts"));
    hosts_->setLineWrapMode(QPlainTextEdit::NoWrap);
    hosts_->setPlainText(hostsText);
    layout->addWidget(hosts_);
    byHost_ = new QCheckBox(tx(language,
                               u"Compare results by host (a leading \"www.\" and letter case "
                               u"ignored), not by whole URL",
                               u"Сравнивать результаты по хосту (без \"www.\" и регистра букв), "
                               u"а не по URL целиком"),
                            this);
    byHost_->setObjectName(QStringLiteral("byHost"));
    byHost_->setChecked(byHost);
    layout->addWidget(byHost_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString LinkOptionsForm::hostsText() const {
    return hosts_->toPlainText();
}

bool LinkOptionsForm::matchByHost() const {
    return byHost_->isChecked();
}

LinkControls::LinkControls(QString hostsPath, AnsiCodec codec, UiLanguage language, QWidget* window)
    : QObject(window),
      hostsPath_(std::move(hostsPath)),
      codec_(std::move(codec)),
      language_(language),
      window_(window) {
    button_ = new QPushButton(tx(language, u"Links...", u"Связи..."), window);
    button_->setObjectName(QStringLiteral("LinksButton"));
    button_->setToolTip(tx(language, u"Ignored hosts and matching by host",
                           u"Игнорируемые хосты и сравнение по хосту"));
    connect(button_, &QPushButton::clicked, this, &LinkControls::edit);
}

LinkControls::~LinkControls() = default;

void LinkControls::load(const ProfileFile& cfg, QStringList& problems) {
    rules_.byHost = settingsMatchByHost(cfg);
    HostListFile file = loadHostList(hostsPath_, codec_);
    if (file.error) {
        problems << file.error->message();
        return;
    }
    if (const QString text = hostListProblemText(file, hostsPath_, language_); !text.isEmpty()) {
        problems << text;
    }
    rules_.ignored = std::make_shared<const HostList>(std::move(file.list));
}

void LinkControls::save(ProfileFile& cfg) const {
    saveMatchBy(cfg, rules_.byHost);
}

void LinkControls::edit() {
    QString text;
    const ReadResult r = readWholeFile(hostsPath_, kHostListReadLimit);
    if (r.error) {
        Dialogs::error(window_, r.error->message());
        return;
    }
    if (!r.missing) {
        text = decodeTextFile(r.bytes, codec_);
    }
    LinkOptionsForm form(text, rules_.byHost, language_, window_);
    if (form.exec() != QDialog::Accepted) {
        return;
    }
    if (const QString problems = apply(form.hostsText(), form.matchByHost()); !problems.isEmpty()) {
        Dialogs::error(window_, problems);
    }
}

QString LinkControls::apply(const QString& hostsText, bool byHost) {
    rules_.byHost = byHost;
    HostListFile file;
    file.list = HostList::parse(hostsText, &file.problems, &file.problemCount);
    rules_.ignored = std::make_shared<const HostList>(std::move(file.list));
    QStringList out;
    if (const QString text = hostListProblemText(file, hostsPath_, language_); !text.isEmpty()) {
        out << text;
    }
    if (auto err =
            writeTextFile(hostsPath_, splitLines(hostsText), codec_, Fallback::Utf8WithBom)) {
        out << err->message();
    }
    return out.join(u'\n');
}

void LinkControls::attachTree(ClusterTreeView* tree, ClusterTreeModel* model) {
    tree_ = tree;
    model_ = model;
    QMenu* menu = tree->popupMenu();
    menu->addSeparator();
    why_ = menu->addAction(tx(language_, u"Why together", u"Почему вместе"));
    why_->setObjectName(QStringLiteral("WhyTogether"));
    why_->setVisible(false);
    // After the tree's own preparation of the menu: shown for two phrases of the last run.
    connect(menu, &QMenu::aboutToShow, this,
            [this] { why_->setVisible(last_.has_value() && selectedPair().has_value()); });
    connect(why_, &QAction::triggered, this, &LinkControls::showWhyTogether);
    weak_ = menu->addAction(tx(language_, u"Mark weak links", u"Отмечать слабые звенья"));
    weak_->setObjectName(QStringLiteral("MarkWeakLinks"));
    weak_->setCheckable(true);
    weak_->setToolTip(tx(language_,
                         u"Phrases whose removal would split their cluster (soft method, "
                         u"clusters of up to 5,000 phrases)",
                         u"Фразы, без которых кластер распался бы (мягкий метод, кластеры до "
                         u"5000 фраз)"));
    connect(weak_, &QAction::toggled, this, &LinkControls::markWeakLinks);
}

std::optional<std::pair<QString, QString>> LinkControls::selectedPair() const {
    if (!tree_ || !model_) {
        return std::nullopt;
    }
    QStringList phrases;
    QList<const TreeNode*> seen;
    for (const QModelIndex& index : tree_->selectedNodes()) {
        const TreeNode* node = model_->nodeOf(index);
        if (!node || seen.contains(node)) {
            continue;
        }
        seen.append(node);
        if (node->isCluster() || phrases.size() == 2) {
            return std::nullopt;
        }
        phrases.append(node->Data.Caption);
    }
    if (phrases.size() != 2) {
        return std::nullopt;
    }
    return std::make_pair(phrases[0], phrases[1]);
}

LinkRules LinkControls::startRun(bool hardMethod, int threshold) {
    pending_ = LastRun{rules_, hardMethod, threshold, {}, nullptr};
    return rules_;
}

void LinkControls::runFinished(const ClusterList& clusters, const ResultStore* store,
                               const WorkList* runLines) {
    last_ = pending_;
    last_->store = store;
    for (const Cluster& c : clusters) {
        last_->phrases.append(c.phrases);
    }
    std::erase_if(retired_, [](const auto& b) { return b->ready(); });
    if (build_) {
        retired_.push_back(std::move(build_));
    }
    if (store) {
        const WorkList work = phraseLines(last_->phrases, runLines, *store);
        build_ = std::make_unique<LinkGraphBuild>(work, last_->rules, last_->threshold,
                                                  last_->hardMethod);
    }
    markWeakLinks();
}

const LinkGraph* LinkControls::graph() {
    if (!last_ || !build_) {
        return nullptr;
    }
    return &build_->graph();
}

WhyTogether LinkControls::whyTogether(const QString& a, const QString& b) {
    const LinkGraph* g = graph();
    return g ? g->whyTogether(a, b) : WhyTogether{};
}

void LinkControls::markWeakLinks() {
    if (!model_) {
        return;
    }
    QSet<QString> weak;
    const LinkGraph* g =
        weak_ && weak_->isChecked() && last_ && !last_->hardMethod ? graph() : nullptr;
    if (g) {
        for (const Cluster& c : model_->content()) {
            if (c.caption == unsortedCaption() || c.phrases.size() < 3 ||
                size_t(c.phrases.size()) > LinkGraph::kArticulationLimit) {
                continue;
            }
            std::vector<int> members;
            for (const QString& p : c.phrases) {
                if (const int id = g->idOf(p); id >= 0) {
                    members.push_back(id);
                }
            }
            if (const auto cut = g->articulationPoints(members)) {
                for (const int id : *cut) {
                    weak.insert(g->text(id));
                }
            }
        }
    }
    model_->setWeakPhrases(std::move(weak));
}

void LinkControls::showWhyTogether() {
    const auto pair = selectedPair();
    if (!pair || !last_) {
        return;
    }
    const WhyTogether answer = whyTogether(pair->first, pair->second);
    auto* form = new WhyTogetherForm(pair->first, pair->second, answer,
                                     {last_->threshold, last_->hardMethod, last_->rules.byHost},
                                     language_, window_);
    form->show();
}

}  // namespace kelvara
