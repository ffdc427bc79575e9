// SPDX-License-Identifier: GPL-3.0-or-later
#include "TDetailSearchForm.h"

#include "BookSearch.h"
#include "ErrorGuard.h"
#include "Fonts.h"
#include "FormHost.h"
#include "SearchHost.h"
#include "TSearchForm.h"
#include "Tags.h"
#include "TextBorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDate>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpression>

#include <optional>
#include <QStyle>

namespace kiv {

namespace {

// What a line of a list stands for: a result's date, a tag as written
// (code page 932).
constexpr int kDataRole = Qt::UserRole;
// Characters of a snippet before its first hit, and in all.
constexpr int kBeforeHit = 8;
constexpr int kSnippet = 32;

template <typename Control>
Control* Place(Control* control, int left, int top, int width, int height, const char* hint)
{
    control->setGeometry(left, top, width, height);
    if (hint)
        control->setStatusTip(QString::fromUtf8(hint));
    return control;
}

// "yyyy/mm/dd" (month and day of one or two digits) or "yyyymmdd" as a
// member's "yyyymmdd"; empty for an empty field; nullopt for no date.
std::optional<std::string> PeriodBound(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::string();
    QDate date = QDate::fromString(trimmed, QStringLiteral("yyyy/M/d"));
    if (!date.isValid())
        date = QDate::fromString(trimmed, QStringLiteral("yyyyMMdd"));
    if (!date.isValid())
        return std::nullopt;
    return date.toString(QStringLiteral("yyyyMMdd")).toStdString();
}

// A few words around the first hit of a line (code page 932).
QString Snippet(const DayTest& test, const std::string& line)
{
    const std::vector<std::pair<std::size_t, std::size_t>> hits = test.HitRanges(line);
    const QString text = ControlText(line);
    const int hit = hits.empty() ? 0 : static_cast<int>(ControlText(line.substr(0, hits.front().first)).size());
    const int from = std::max(0, hit - kBeforeHit);
    QString snippet = text.mid(from, kSnippet);
    if (from > 0)
        snippet.prepend(QStringLiteral("…"));
    if (from + kSnippet < text.size())
        snippet.append(QStringLiteral("…"));
    return snippet;
}

} // namespace

TDetailSearchForm::TDetailSearchForm(SearchHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName(kWindowName);
    setWindowTitle(QStringLiteral("詳しい検索"));
    setFont(FormFont());
    setMinimumSize(470, 430);

    Place(new QLabel(QStringLiteral("キーワード："), this), 8, 8, 150, 14, nullptr);
    Edit1 = Place(new QLineEdit(this), 16, 26, 170, 20, "１つ目のキーワード");
    Edit2 = Place(new QLineEdit(this), 16, 50, 170, 20, "２つ目のキーワード");
    Edit3 = Place(new QLineEdit(this), 16, 74, 170, 20, "３つ目のキーワード");
    Place(new QLabel(QStringLiteral("除く語（空白で区切る）："), this), 8, 102, 180, 14, nullptr);
    LeaveOutEdit = Place(new QLineEdit(this), 16, 120, 170, 20, "この語を含む日は探しません");
    Place(new QLabel(QStringLiteral("期間："), this), 8, 148, 150, 14, nullptr);
    FromEdit = Place(new QLineEdit(this), 16, 166, 78, 20, "この日から探します（空欄：最初の日から）");
    Place(new QLabel(QStringLiteral("～"), this), 98, 169, 12, 14, nullptr);
    ToEdit = Place(new QLineEdit(this), 112, 166, 78, 20, "この日まで探します（空欄：最後の日まで）");
    FoldCheck = Place(new QCheckBox(QStringLiteral("全角・半角、大文字・小文字を区別しない"), this), 8, 196, 280, 20,
                      "ＰＣとPCとpc、ｶﾒﾗとカメラを同じ語として探します");
    Place(new QLabel(QStringLiteral("タグ："), this), 200, 8, 150, 14, nullptr);
    TagList = Place(new QListWidget(this), 208, 26, 150, 160, "チェックしたタグの付いた日を探します");
    StartBitBtn = Place(new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("開始"), this),
                        376, 26, 75, 25, "検索を開始します");
    CloseBitBtn =
        Place(new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("閉じる"), this), 376,
              62, 75, 25, "フォームを閉じます");
    Place(new QLabel(QStringLiteral("探し出した日："), this), 8, 226, 150, 14, nullptr);
    ResultList =
        Place(new QListWidget(this), 16, 244, 435, 150, "日付の上でダブルクリックすると、その日の内容を表示します");
    CountLabel = Place(new QLabel(this), 16, 400, 435, 16, nullptr);

    for (QLineEdit* edit : {Edit1, Edit2, Edit3, LeaveOutEdit, FromEdit, ToEdit})
        FilterInput(edit, host_.formHost());
    FromEdit->setPlaceholderText(QStringLiteral("yyyy/mm/dd"));
    ToEdit->setPlaceholderText(QStringLiteral("yyyy/mm/dd"));
    StartBitBtn->setDefault(true);

    for (QLineEdit* edit : {Edit1, Edit2, Edit3, LeaveOutEdit, FromEdit, ToEdit})
        connect(edit, &QLineEdit::returnPressed, StartBitBtn, &QPushButton::click);
    connect(StartBitBtn, &QPushButton::clicked, this, [this] { StartBitBtnClick(); });
    connect(CloseBitBtn, &QPushButton::clicked, this, [this] { CloseBitBtnClick(); });
    connect(ResultList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { ResultListDblClick(item); });

    Guarded(host_.formHost().prompts(), [&] { LoadTags(); });
}

void TDetailSearchForm::LoadTags()
{
    TagList->clear();
    // A book named but not yet saved has no days.
    if (host_.BookFileName().empty() || !QFileInfo::exists(QString::fromStdString(host_.BookFileName())))
        return;
    // Every day is a hit of a search without criteria; its tags come with it.
    class Collector : public SearchObserver {
    public:
        void Started(std::size_t) override { }
        void Hit(const std::string&) override { }
        void HitFindings(const DayFindings& findings) override { counter.AddDay(findings.tags); }
        bool DayDone(std::size_t) override { return true; }
        TagCounter counter;
    } collector;
    SearchCriteria criteria;
    criteria.dayTags = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore {
        ~Restore() { QApplication::restoreOverrideCursor(); }
    } restore;
    SearchBook(host_.BookFileName(), criteria, collector);
    for (const TagCounter::Count& tag : collector.counter.Counts()) {
        auto* item = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(QString::fromStdString(tag.shown)).arg(tag.days),
                                         TagList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setData(kDataRole, QByteArray::fromStdString(tag.written));
    }
}

void TDetailSearchForm::StartBitBtnClick()
{
    Guarded(host_.formHost().prompts(), [&] { Search(); });
}

void TDetailSearchForm::Search()
{
    Prompts& prompts = host_.formHost().prompts();
    SearchCriteria criteria;
    for (QLineEdit* edit : {Edit1, Edit2, Edit3})
        if (!edit->text().isEmpty())
            criteria.keywords.push_back(RecordText(edit->text()));
    static const QRegularExpression blanks(QStringLiteral("[\\s\\x{3000}]+"));
    for (const QString& word : LeaveOutEdit->text().split(blanks, Qt::SkipEmptyParts))
        criteria.leftOut.push_back(RecordText(word));
    for (int i = 0; i < TagList->count(); ++i)
        if (TagList->item(i)->checkState() == Qt::Checked)
            criteria.tags.push_back(TagList->item(i)->data(kDataRole).toByteArray().toStdString());
    const std::optional<std::string> from = PeriodBound(FromEdit->text());
    const std::optional<std::string> to = PeriodBound(ToEdit->text());
    if (!from || !to) {
        ShowPlain(prompts, "期間の日付が正しくありません。yyyy/mm/dd の形で書いてください。", true);
        return;
    }
    criteria.from = *from;
    criteria.to = *to;
    if (criteria.keywords.empty() && criteria.tags.empty() && criteria.from.empty() && criteria.to.empty()) {
        ShowPlain(prompts, "キーワードが書き込まれていないと、検索できません。", true);
        return;
    }
    criteria.fold = FoldCheck->isChecked();
    criteria.lines = true;

    ResultList->clear();
    CountLabel->clear();
    const DayTest test(criteria);
    class Lister : public SearchObserver {
    public:
        Lister(QListWidget& list, const DayTest& test) : list_(list), test_(test) { }
        void Started(std::size_t) override { }
        void Hit(const std::string& line) override { date_ = QString::fromStdString(line); }
        void HitFindings(const DayFindings& findings) override
        {
            const QString snippet = findings.lines.empty() ? QString() : Snippet(test_, findings.lines.front());
            // A search of a period alone has no hit to show words around.
            auto* item =
                new QListWidgetItem(snippet.isEmpty() ? date_ : date_ + QStringLiteral("  ") + snippet, &list_);
            item->setData(kDataRole, date_);
            ++hits;
        }
        bool DayDone(std::size_t) override { return true; }
        int hits = 0;

    private:
        QListWidget& list_;
        const DayTest& test_;
        QString date_;
    } lister(*ResultList, test);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SearchEnd end;
    {
        struct Restore {
            ~Restore() { QApplication::restoreOverrideCursor(); }
        } restore;
        end = SearchBook(host_.BookFileName(), criteria, lister);
    }
    searched_ = criteria;
    if (end == SearchEnd::ExtractFailed) {
        ShowPlain(prompts, host_.BookFileName() + "の検索に失敗しました。", true);
        return;
    }
    CountLabel->setText(QString::number(lister.hits) + QStringLiteral("件ヒットしました。"));
}

void TDetailSearchForm::ResultListDblClick(QListWidgetItem* item)
{
    if (!item)
        return;
    ShowFoundDay(host_, item->data(kDataRole).toString(), searched_);
}

void TDetailSearchForm::CloseBitBtnClick()
{
    // In the frame, the child window closes around the form.
    if (auto* window = qobject_cast<QMdiSubWindow*>(parentWidget()))
        window->close();
    else
        close();
}

void TDetailSearchForm::closeEvent(QCloseEvent* event)
{
    emit closed();
    QWidget::closeEvent(event);
}

} // namespace kiv
