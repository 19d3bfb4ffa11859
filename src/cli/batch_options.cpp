#include "cli/batch_options.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "process/color_modes.h"

namespace tovi::cli {

namespace {

constexpr std::array<std::pair<const char *, platform::BackupControl>, 8> kBackupControls{{
    {"none", platform::BackupControl::None},
    {"off", platform::BackupControl::None},
    {"simple", platform::BackupControl::Simple},
    {"never", platform::BackupControl::Simple},
    {"existing", platform::BackupControl::Existing},
    {"nil", platform::BackupControl::Existing},
    {"numbered", platform::BackupControl::Numbered},
    {"t", platform::BackupControl::Numbered},
}};

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

int parseTolerance(const std::string &text)
{
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > process::kMaxTolerance)
            value = process::kMaxTolerance + 1;
        else
            value = value * 10 + (c - '0');
    }
    if (text.empty() || value > process::kMaxTolerance)
        throw UsageError("許容差 \"" + text + "\" は 0 から " + std::to_string(process::kMaxTolerance) +
                         " の数で指定してください");
    return value;
}

process::GrayFormula parseGrayFormula(const std::string &text)
{
    if (const process::GrayFormulaInfo *info = process::findGrayFormulaByCommandName(text))
        return info->formula;
    std::string names;
    for (const process::GrayFormulaInfo &info : process::kGrayFormulas)
        names += (names.empty() ? "" : ", ") + std::string(info.commandName);
    throw UsageError("グレースケールの計算 \"" + text + "\" はありません (" + names + ")");
}

platform::BackupControl parseBackupControl(const std::string &text)
{
    std::optional<platform::BackupControl> found;
    bool ambiguous = false;
    for (const auto &[name, control] : kBackupControls) {
        if (text == name)
            return control;
        if (!text.empty() && std::string_view(name).starts_with(text)) {
            ambiguous = ambiguous || (found && *found != control);
            found = control;
        }
    }
    if (!found || ambiguous)
        throw UsageError("バックアップの方法 \"" + text +
                         "\" はありません (none, off, numbered, t, existing, nil, simple, never)");
    return *found;
}

namespace {

// --backup and --suffix, with the environment's defaults as the GNU tools
// take them.
void settleBackups(BatchOptions &options, bool backup, const std::optional<std::string> &control,
                   const std::optional<std::string> &suffix)
{
    if (!backup)
        return;
    auto &replace = options.replace;
    if (control) {
        replace.backup = parseBackupControl(*control);
    } else {
        const char *fromEnvironment = std::getenv("VERSION_CONTROL");
        replace.backup = fromEnvironment && *fromEnvironment ? parseBackupControl(fromEnvironment)
                                                             : platform::BackupControl::Existing;
    }
    const char *suffixFromEnvironment = std::getenv("SIMPLE_BACKUP_SUFFIX");
    if (suffix)
        replace.backupSuffix = *suffix;
    else if (suffixFromEnvironment && *suffixFromEnvironment && std::string_view(suffixFromEnvironment).find('/') == std::string_view::npos)
        replace.backupSuffix = suffixFromEnvironment;
    if (replace.backupSuffix.empty() || replace.backupSuffix.find('/') != std::string::npos)
        throw UsageError("バックアップの接尾辞 \"" + replace.backupSuffix + "\" は使えません");
}

}  // namespace

std::string modeOptionName(int mode)
{
    if (const process::ModeInfo *info = process::findMode(mode))
        return std::string(info->commandName);
    return std::to_string(mode);
}

unsigned parseJobs(const std::string &text)
{
    unsigned jobs = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || jobs > kMaxJobs)
            jobs = kMaxJobs + 1;
        else
            jobs = jobs * 10 + unsigned(c - '0');
    }
    if (text.empty() || jobs < 1 || jobs > kMaxJobs)
        throw UsageError("ジョブ数 \"" + text + "\" は 1 から " + std::to_string(kMaxJobs) + " の数で指定してください");
    return jobs;
}

BatchOptions parseOptions(const std::vector<std::string> &arguments)
{
    BatchOptions options;
    bool backup = false;
    std::optional<std::string> backupControl;
    std::optional<std::string> backupSuffix;
    bool toleranceGiven = false, grayGiven = false;
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
        // "-j4" as well as "-j 4".
        if (argument.size() > 2 && argument.starts_with("-j")) {
            option = "-j";
            inlineValue = argument.substr(2);
        }
        const bool takesValue = option == "--mode" || option == "--color1" || option == "--color2" ||
                                option == "--jobs" || option == "-j" || option == "--backup" ||
                                option == "--suffix" || option == "-S" || option == "--tolerance" ||
                                option == "--gray";
        if (inlineValue && !takesValue)
            throw UsageError("オプション " + option + " は値を取りません");

        if (option == "--help" || option == "-h")
            options.help = true;
        else if (option == "--version")
            options.version = true;
        else if (option == "--yes" || option == "-y")
            options.yesToAll = true;
        else if (option == "--recursive" || option == "-r")
            options.recursive = true;
        else if (option == "--dry-run" || option == "-n")
            options.dryRun = true;
        else if (option == "--json")
            options.json = true;
        else if (option == "--jobs" || option == "-j")
            options.settings.jobs = parseJobs(reader.valueOf(option, inlineValue));
        else if (option == "--mode")
            options.settings.mode = parseMode(reader.valueOf(option, inlineValue));
        else if (option == "--color1")
            options.settings.color1 = parseColor(reader.valueOf(option, inlineValue));
        else if (option == "--color2")
            options.settings.color2 = parseColor(reader.valueOf(option, inlineValue));
        else if (option == "--tolerance") {
            options.settings.tolerance = parseTolerance(reader.valueOf(option, inlineValue));
            toleranceGiven = true;
        } else if (option == "--gray") {
            options.settings.grayFormula = parseGrayFormula(reader.valueOf(option, inlineValue));
            grayGiven = true;
        }
        else if (option == "--backup") {
            // The control word only after "=": "--backup FILE" keeps FILE a file.
            backup = true;
            backupControl = inlineValue;
        } else if (option == "--suffix" || option == "-S") {
            backup = true;
            backupSuffix = reader.valueOf(option, inlineValue);
        } else if (option == "--preserve-timestamps")
            options.replace.preserveTimestamps = true;
        else
            throw UsageError("不明なオプション " + option);
    }
    settleBackups(options, backup, backupControl, backupSuffix);
    // Each setting belongs to its modes: given with another mode it would
    // silently do nothing.
    const int mode = options.settings.mode;
    if (toleranceGiven && mode != process::kModeSwap)
        throw UsageError("--tolerance は --mode swap のときだけ指定できます");
    if (grayGiven && mode != process::kModeGray && mode != process::kModeInvertGray)
        throw UsageError("--gray は --mode gray と --mode invert-gray のときだけ指定できます");
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
           "      --tolerance T\n"
           "                   色交換の許容差 0 から 255 (既定 0: 色1と色2だけを交換)。色1と色2を\n"
           "                   結ぶ線分から RGB の距離 T 以内の色 (アンチエイリアスの縁の色) を、\n"
           "                   線分に沿って反対側へ写します。--mode swap のときだけ\n"
           "      --gray FORMULA\n"
           "                   グレースケールの計算 (既定 mean): mean = R, G, B の単純平均,\n"
           "                   rec601 = 0.299R + 0.587G + 0.114B, rec709 = 0.2126R + 0.7152G\n"
           "                   + 0.0722B (四捨五入)。--mode gray と invert-gray のときだけ\n"
           "  -y, --yes        確認せずにすべて処理します (すべてはい)\n"
           "  -j, --jobs N     すべてはいの後、N 個のファイルを同時に処理します\n"
           "                   (既定: プロセッサ数)。結果の行の順序は変わりません。\n"
           "                   すべてはいの後はファイルをまとめてディスクに書き込み、\n"
           "                   その一まとまりが書き込まれてから結果の行を出力します\n"
           "  -r, --recursive  フォルダの中の .bmp ファイルを (サブフォルダも) 処理します。\n"
           "                   途中のシンボリックリンクは辿らず、同じファイルは一度だけ処理します\n"
           "  -n, --dry-run    ファイルを読んで処理するだけで、書き込みません。確認もしません\n"
           "      --json       結果の行の代わりに、ファイルごとに JSON を一行出力します\n"
           "      --backup[=CONTROL]\n"
           "                   置き換える前の版をバックアップとして残します (元のファイルへの\n"
           "                   ハードリンク。できなければコピー)。CONTROL: none, off (残さない),\n"
           "                   numbered, t (NAME.~N~), existing, nil (番号付きがあれば番号付き,\n"
           "                   なければ単純), simple, never (NAME + 接尾辞)。CONTROL がなければ\n"
           "                   環境変数 VERSION_CONTROL, それもなければ existing\n"
           "  -S, --suffix=SUFFIX\n"
           "                   単純なバックアップの接尾辞 (既定 ~, 環境変数 SIMPLE_BACKUP_SUFFIX);\n"
           "                   --backup も有効にします\n"
           "      --preserve-timestamps\n"
           "                   新しい版にも元のアクセス日時と更新日時を残します\n"
           "  -h, --help       この説明を表示して終了します\n"
           "      --version    バージョンを表示して終了します\n"
           "\n"
           "--yes がなければファイルごとに確認します: y = はい, n = いいえ,\n"
           "a, A, q = 中止 (残りはすべて処理しません), all = すべてはい, ? = キーの説明。\n"
           "入力の終わりは「いいえ」です。\n"
           "結果は標準出力に一行ずつ、エラーと処理できなかった理由は標準エラー出力に出ます。\n"
           "ファイル名は拡張子にかかわらず処理します。フォルダは -r のときだけ指定できます。\n"
           "ほかのハードリンクがあるファイルは新しいファイルに置き換わり、ほかの名前は元の画像の\n"
           "ままです (標準エラー出力に表示します)。名前の制御文字は \\n, \\t, \\xHH と表示します。\n"
           "\n"
           "終了コード: 0 すべて処理またはスキップ, 1 処理できないファイルか読めないフォルダがあった,\n"
           "            2 エラーで中断した, 64 コマンドラインの誤り\n";
}

}  // namespace tovi::cli
