// A fresh game directory as the working directory, the real window in it, and the error
// display captured instead of opening message boxes.
#pragma once

#include "ErrorDisplay.h"
#include "TempDir.h"
#include "Unit1.h"

#include <gtest/gtest.h>

#include <filesystem>
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
    }
    void TearDown() override {
        Form.reset();
        TErrorDisplay::SetPresenter(FPrevious);
    }

    std::string Talo() const { return Dir.ReadFile("data/talofile.txt"); }
    bool Exists(const char* ARelative) const {
        return std::filesystem::exists(Dir.Path() / ARelative);
    }

    TempDir Dir;
    std::unique_ptr<TForm1> Form;
    std::vector<std::string> Errors;

private:
    TErrorDisplay::TPresenter FPrevious;
};
