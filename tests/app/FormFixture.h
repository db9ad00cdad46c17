// A fresh game directory as the working directory, the real window in it, and the error
// display captured instead of opening message boxes.
#pragma once

#include "ErrorDisplay.h"
#include "TempDir.h"
#include "Unit1.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
