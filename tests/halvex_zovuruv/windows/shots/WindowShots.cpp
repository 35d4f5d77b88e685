// Renders the application's windows with realistic content into PNG files,
// for the README: zv-window-shots [OUTPUT_FOLDER] (default: docs). Runs
// without a display (the offscreen platform) unless QT_QPA_PLATFORM says
// otherwise; times are shown in UTC so the pictures do not depend on the
// machine.

#include "halvex_zovuruv/core/AccessibilityTrust.h"
#include "halvex_zovuruv/core/Clock.h"
#include "halvex_zovuruv/core/Stats.h"
#include "halvex_zovuruv/windows/HistoryWindow.h"
#include "halvex_zovuruv/windows/MicrophoneAccess.h"
#include "halvex_zovuruv/windows/OnboardingWindow.h"
#include "halvex_zovuruv/windows/ResultWindow.h"
#include "halvex_zovuruv/windows/StatisticsWindow.h"
#include "platform/system/TemporaryDirectory.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTableWidget>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace halvex;
using namespace std::chrono_literals;

class SettableClock final : public Clock {
public:
    std::chrono::system_clock::time_point wall;
    std::chrono::steady_clock::time_point monotonicNow() override {
        return std::chrono::steady_clock::now();
    }
    std::chrono::system_clock::time_point now() override { return wall; }
};

class Untrusted final : public AccessibilityTrust {
public:
    bool isTrusted(bool) override { return false; }
};

class MicrophoneGranted final : public windows::MicrophoneAccess {
public:
    bool isAuthorized() override { return true; }
    void requestAccess(std::function<void()> answered) override { answered(); }
};

struct Dictation {
    int daysAgo;
    int hour;
    int minute;
    const char* text;
    double seconds;
    double transcriptionSeconds;
    bool ai;
};

// A week of dictations, the oldest first.
const std::vector<Dictation> kWeek = {
    {6, 9, 12, "Доброе утро, коллеги. Напоминаю, что планёрка сегодня в десять.", 6, 0.41, false},
    {6, 17, 40, "Купить молоко, хлеб и батарейки для пульта.", 4, 0.33, false},
    {5, 10, 5,
     "Андрей, посмотри, пожалуйста, договор с подрядчиком: в пункте 4.2 неверная сумма, "
     "должно быть 480 000 рублей с НДС.",
     11, 0.62, true},
    {5, 11, 30, "Созвон с дизайнерами переносим на пятницу.", 4, 0.35, false},
    {5, 15, 55,
     "Итоги встречи: запускаем бету двадцатого, тексты для рассылки готовит Марина, "
     "лендинг — Олег. Следующая встреча во вторник.",
     18, 0.88, true},
    {4, 12, 20, "Спасибо, получил, вечером посмотрю.", 3, 0.29, false},
    {2, 9, 45,
     "Привет! Можешь прислать презентацию с прошлой недели? Хочу взять оттуда пару слайдов "
     "для отчёта.",
     9, 0.55, false},
    {2, 14, 10,
     "Черновик письма клиенту: благодарим за обратную связь, исправления внесём до конца "
     "недели и пришлём обновлённую версию.",
     13, 0.71, true},
    {2, 16, 2, "Напомнить Ире про отпускные документы.", 3, 0.31, false},
    {2, 18, 30,
     "Заметка для статьи: локальное распознавание речи работает без интернета, аудио никуда "
     "не уходит, а первая загрузка модели занимает пару минут.",
     15, 0.84, false},
    {2, 10, 0, "Встреча с бухгалтерией в 11:30, взять акты сверки.", 5, 0.38, false},
    {1, 9, 5, "Проверить счета за ноябрь и оплатить аренду.", 4, 0.34, false},
    {1, 21, 40,
     "Приветствие для команды: рады видеть новых коллег, вводная встреча завтра в 10 в "
     "переговорной на третьем этаже.",
     12, 0.66, true},
    {0, 7, 3, "Созвон в десять, привет всем, начинаем без опозданий.", 5, 0.37, false},
    {0, 14, 30, "Перенести демо на следующую неделю\nи предупредить отдел продаж.", 7, 0.47, false},
    {0, 18, 47, "Отправить отчёт до 19:00 и предупредить Сергея о переносе релиза.", 5, 0.39,
     false},
};

// Shorter notes that fill the days between the dictations above.
const std::vector<const char*> kNotes = {
    "Записать идеи для квартального плана: новые тарифы, скидки для студентов и партнёрская "
    "программа с университетами.",
    "Ответ поставщику: подтверждаем заказ на двести единиц, оплата после приёмки на складе.",
    "Проверить, дошли ли документы до юристов, и попросить их вернуть подписанный экземпляр "
    "до конца месяца.",
    "Черновик поста: за неделю мы выпустили два обновления и исправили больше тридцати ошибок, "
    "спасибо всем, кто присылал отчёты.",
};
// How many such notes each day holds, the oldest day first.
const int kNotesPerDay[7] = {2, 7, 1, 1, 10, 5, 4};

// 2025-12-10 (a Wednesday), midnight UTC.
constexpr int64_t kToday = 1765324800;

void save(QWidget* window, const QString& path) {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    const QPixmap picture = window->grab();
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), picture.width(), picture.height());
}

} // namespace

int main(int argc, char** argv) {
    setenv("TZ", "UTC", 1);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(folder);

    platform::system::TemporaryDirectory dir{"zv-shots-"};
    auto clock = std::make_shared<SettableClock>();
    auto stats = std::make_shared<Stats>(dir / "stats.json", clock);
    // Recorded in the order they were made, as the application would.
    std::vector<std::pair<int64_t, Dictation>> made;
    for (int day = 0; day < 7; ++day) {
        for (int i = 0; i < kNotesPerDay[day]; ++i) {
            const Dictation note{6 - day,
                                 8 + i,
                                 17,
                                 kNotes[static_cast<size_t>(day + i) % kNotes.size()],
                                 24.0 + 9.0 * ((day + i) % 5),
                                 0.7 + 0.05 * (i % 4),
                                 i % 3 == 0};
            made.emplace_back(0, note);
        }
    }
    for (const Dictation& d : kWeek)
        made.emplace_back(0, d);
    for (auto& [when, d] : made) {
        when = kToday - d.daysAgo * 86400 + d.hour * 3600 + d.minute * 60;
    }
    std::stable_sort(made.begin(), made.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [when, d] : made) {
        clock->wall = std::chrono::system_clock::time_point(std::chrono::seconds(when));
        stats->record(d.text, d.seconds, d.transcriptionSeconds, d.ai);
    }
    clock->wall += 10min;

    windows::ResultWindow result;
    std::vector<DictationRecord> all = stats->loadAll();
    const std::vector<DictationRecord> previous(all.rbegin(), all.rbegin() + 3);
    result.present("Привет! Созвон переносим на четверг, в 15:00. Захвати, пожалуйста, отчёт по "
                   "продажам за ноябрь и список вопросов к подрядчику — обсудим сроки поставки.",
                   previous, [](const ResultChoice&, const std::string&) {});
    save(result.openDialogs().back(), folder + "/result-window.png");

    windows::HistoryWindow history(stats);
    history.show();
    history.table()->selectRow(2);
    save(&history, folder + "/history-window.png");

    windows::StatisticsWindow statistics(stats);
    statistics.show();
    save(&statistics, folder + "/statistics-window.png");

    windows::OnboardingWindow onboarding(std::make_shared<Untrusted>(),
                                         std::make_shared<MicrophoneGranted>());
    onboarding.showIfNeeded();
    save(&onboarding, folder + "/onboarding-window.png");
    return 0;
}
