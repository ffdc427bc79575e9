// SPDX-License-Identifier: GPL-3.0-or-later
// Showing a day's picture: a 4000 x 3000 JPEG, as a camera makes it, decoded
// with libjpeg and put on the picture window.
#include "FormHost.h"
#include "JpegImage.h"
#include "ScriptedPrompts.h"
#include "TDayBook.h"
#include "TPictureForm.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

class BenchHost : public kiv::FormHost {
public:
    kiv::Prompts& prompts() override { return prompts_; }
    bool Modified() const override { return false; }
    void SetModified(bool) override {}
    bool BookNamed() const override { return false; }
    void ClearEditors() override {}
    void ChangeDate() override {}
    void CurrentDate(int& year, int& month, int& day) const override { year = 2001, month = 5, day = 12; }
    void ShowHint(const std::string&) override {}

private:
    kiv::ScriptedPrompts prompts_;
};

// A photograph-like picture: gradients with detail, so that the file has
// the size and entropy of a real one (a few megabytes at quality 90).
const std::vector<std::uint8_t>& CameraJpeg()
{
    static const std::vector<std::uint8_t> bytes = [] {
        QImage image(4000, 3000, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient sky(0, 0, 4000, 3000);
        sky.setColorAt(0, QColor(30, 80, 160));
        sky.setColorAt(1, QColor(230, 200, 120));
        painter.fillRect(image.rect(), sky);
        std::srand(7);
        for (int i = 0; i < 20000; ++i)
            painter.fillRect(std::rand() % 4000, std::rand() % 3000, 4 + std::rand() % 40, 4 + std::rand() % 40,
                             QColor(std::rand() % 256, std::rand() % 256, std::rand() % 256));
        painter.end();
        QByteArray file;
        QBuffer buffer(&file);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", 90);
        return std::vector<std::uint8_t>(file.begin(), file.end());
    }();
    return bytes;
}

void BM_DecodeJpeg4000x3000(benchmark::State& state)
{
    const std::vector<std::uint8_t>& jpeg = CameraJpeg();
    for (auto _ : state) {
        QImage image = kiv::DecodeJpeg(jpeg.data(), jpeg.size(), false);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["file_MB"] = static_cast<double>(jpeg.size()) / 1e6;
}
BENCHMARK(BM_DecodeJpeg4000x3000)->Unit(benchmark::kMillisecond);

void BM_ShowRecordPicture4000x3000(benchmark::State& state)
{
    BenchHost host;
    kiv::TPictureForm form(host);
    form.resize(536, 348);
    form.show();
    kiv::TDayBook record;
    const std::vector<std::uint8_t>& jpeg = CameraJpeg();
    record.SetPhotoData(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), kiv::TDayBook::kJpeg);
    for (auto _ : state) {
        form.ShowRecordPicture(record);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(form.HasPicture());
    }
}
BENCHMARK(BM_ShowRecordPicture4000x3000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
