#include "cli/batch_options.h"

#include <algorithm>
#include <optional>

#include "process/color_modes.h"

namespace tovi::cli {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits "--name=value" and takes the value of "--name value" from the next
// argument.
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string> &arguments) : m_arguments(arguments) {}

    bool atEnd() const { return m_next >= m_arguments.size(); }
    const std::string &next() { return m_arguments[m_next++]; }

    std::string valueOf(const std::string &option, const std::optional<std::string> &inlineValue)
    {
        if (inlineValue)
            return *inlineValue;
        if (atEnd())
            throw UsageError("オプション " + option + " には値が必要です");
        return next();
    }

private:
    const std::vector<std::string> &m_arguments;
    std::size_t m_next = 0;
};

// "swap, invert, gray, invert-gray": every name --mode takes.
std::string modeNameList()
{
    std::string list;
    for (const process::ModeInfo &mode : process::kModes) {
        if (!list.empty())
            list += ", ";
        list += mode.commandName;
    }
    return list;
}

// The usage lines of --mode: one per mode, with the name its result lines show.
std::string modeOptionLines()
{
    std::string lines = "  --mode MODE      処理モード (既定 " +
                        std::string(process::findMode(process::kDefaultMode)->commandName) + "):\n";
    for (const process::ModeInfo &mode : process::kModes) {
        std::string name(mode.commandName);
        name.resize(std::max<std::size_t>(name.size() + 1, 13), ' ');
        lines += "                     " + name + std::string(mode.resultName) + "\n";
    }
    return lines;
}

}  // namespace

platform::ColorRef parseColor(const std::string &text)
{
    const auto bad = [&] { return UsageError("色 \"" + text + "\" は #RRGGBB の形で指定してください"); };
    if (text.size() != 7 || text[0] != '#')
        throw bad();
    unsigned channels[3];
    for (int i = 0; i < 3; ++i) {
        const int high = hexDigit(text[1 + 2 * i]);
        const int low = hexDigit(text[2 + 2 * i]);
        if (high < 0 || low < 0)
            throw bad();
        channels[i] = unsigned(high * 16 + low);
    }
    return platform::rgb(channels[0], channels[1], channels[2]);
}

int parseMode(const std::string &text)
{
    if (const process::ModeInfo *mode = process::findModeByCommandName(text))
        return mode->code;
    throw UsageError("モード \"" + text + "\" はありません (" + modeNameList() + ")");
}

BatchOptions parseOptions(const std::vector<std::string> &arguments)
{
    BatchOptions options;
    ArgumentReader reader(arguments);
    bool optionsEnded = false;
    while (!reader.atEnd()) {
        const std::string &argument = reader.next();
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            options.files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string option = argument;
        std::optional<std::string> inlineValue;
        if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
            option = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        const bool takesValue = option == "--mode" || option == "--color1" || option == "--color2";
        if (inlineValue && !takesValue)
            throw UsageError("オプション " + option + " は値を取りません");

        if (option == "--help" || option == "-h")
            options.help = true;
        else if (option == "--version")
            options.version = true;
        else if (option == "--yes" || option == "-y")
            options.yesToAll = true;
        else if (option == "--mode")
            options.settings.mode = parseMode(reader.valueOf(option, inlineValue));
        else if (option == "--color1")
            options.settings.color1 = parseColor(reader.valueOf(option, inlineValue));
        else if (option == "--color2")
            options.settings.color2 = parseColor(reader.valueOf(option, inlineValue));
        else
            throw UsageError("不明なオプション " + option);
    }
    if (options.files.empty() && !options.help && !options.version)
        throw UsageError("処理するファイルを指定してください");
    return options;
}

std::string usageText()
{
    return "使い方: tovi-batch [オプション] ファイル...\n"
           "BMP 画像のそれぞれを現在の設定で画像処理し、上書きします。\n"
           "\n" +
           modeOptionLines() +
           "  --color1 #RRGGBB 色交換の色1 (既定 #FFFFFF)\n"
           "  --color2 #RRGGBB 色交換の色2 (既定 #000000)\n"
           "  -y, --yes        確認せずにすべて処理します (すべてはい)\n"
           "  -h, --help       この説明を表示して終了します\n"
           "      --version    バージョンを表示して終了します\n"
           "\n"
           "--yes がなければファイルごとに確認します: y = はい, n = いいえ,\n"
           "a = 中止 (残りはすべて処理しません), A = すべてはい。入力の終わりは「いいえ」です。\n"
           "結果は標準出力に一行ずつ、エラーは標準エラー出力に出ます。\n"
           "ファイル名は拡張子にかかわらず処理します。フォルダは指定できません。\n"
           "\n"
           "終了コード: 0 すべて処理またはスキップ, 1 処理できないファイルがあった,\n"
           "            2 エラーで中断した, 64 コマンドラインの誤り\n";
}

}  // namespace tovi::cli
