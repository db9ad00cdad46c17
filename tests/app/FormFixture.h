// A fresh game directory as the working directory, the real window in it, and the error
// display captured instead of opening message boxes.
#pragma once

#include "ErrorDisplay.h"
#include "TempDir.h"
#include "Unit1.h"
#include "Waiting.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Dir.ChangeInto();
        std::filesystem::create_directory(Dir.Path() / "data");
        FPrevious = TErrorDisplay::SetPresenter(
            [this](const QString& AText) { Errors.push_back(AText.toStdString()); });
        Form = std::make_unique<TForm1>();
        Form->Timer1->stop(); // a test ticks it itself
    }
    void TearDown() override {
        Form.reset();
        TErrorDisplay::SetPresenter(FPrevious);
    }

    // Runs the event loop (and with it the reader's hand-offs) until APredicate holds.
    static bool WaitFor(const std::function<bool()>& APredicate) {
        return QTest::qWaitFor(APredicate, int(TestSupport::HangLimit.count()));
    }
    void TypeConnect(const QString& ANick, const QString& APort) {
        Form->ed_nick->setText(ANick);
        Form->ed_serv->setText(QStringLiteral("127.0.0.1"));
        Form->ed_port->setText(APort);
        Form->Button_connect->click();
    }
    std::string Status() const { return Form->Label1->text().toStdString(); }
    std::string LastLine() const {
        return Form->LogLines().Count() == 0 ? "" : Form->LogLines()[Form->LogLines().Count() - 1];
    }
    std::string Talo() const { return Dir.ReadFile("data/talofile.txt"); }
    // A directory where the file should be: not to be written or read as a file, even by root.
    void Block(const std::string& APath) const {
        std::filesystem::remove(Dir.Path() / APath);
        std::filesystem::create_directory(Dir.Path() / APath);
    }
    static bool Mentions(const std::string& AText, std::initializer_list<std::string> AParts) {
        return std::ranges::all_of(
            AParts, [&](const auto& APart) { return AText.find(APart) != AText.npos; });
    }

    TempDir Dir;
    std::unique_ptr<TForm1> Form;
    std::vector<std::string> Errors;
    TErrorDisplay::TPresenter FPrevious;
};
