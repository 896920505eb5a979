// Runs a fuzz target without libFuzzer: the target's corpus (the inputs kept
// in the repository, fuzz/corpus/<target>), seeds that look like the real
// inputs (settings lines, file headers, number texts), then deterministic
// mutations of them, so every run covers the same inputs.
//   fuzz_target [CORPUS_DIR] [ROUNDS]
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::string> Seeds()
{
    return {
        "",
        "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=70000\r\n",
        "\xEF\xBB\xBF[SENSOR]\nH2S=1,ppm,H,180,0,100\nCO=2,ppm,C,180,50,20\nX=.,.,.,.,.,.\n",
        "[UNIT\nPacketSize=-1\n[]\n=\n==\n[EEPROM]\nMaxAddress=99999999999\nReadStartAddress=abc\n",
        std::string("\x07\x00\x00\x00", 4) + std::string(20, '\0') + std::string(116, 'A'),
        std::string("\x08\x00\x00\x00", 4) + std::string(20, '\0') + std::string(128, '\xFF'),
        std::string("\x01\x00\x00\x00", 4) + std::string(20, '\0') + std::string(10, '\x20'),
        "-2.5.1", " 12abc", "3.", ".", "-", "1,ppm,H,180,0,100",
    };
}

std::string Mutate(std::string input, std::mt19937& random)
{
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < edits; ++i) {
        const unsigned kind = random() % 4;
        const std::size_t at = input.empty() ? 0 : random() % (input.size() + 1);
        const char byte = static_cast<char>(random() & 0xFF);
        if (kind == 0 || input.empty())
            input.insert(at, 1, byte);
        else if (kind == 1 && at < input.size())
            input[at] = byte;
        else if (kind == 2 && at < input.size())
            input.erase(at, 1 + random() % 16);
        else
            input.insert(at, std::string(1 + random() % 64, "[]=,.\r\n-0"[random() % 10]));
    }
    return input;
}

std::vector<std::string> Corpus(const QString& folder)
{
    std::vector<std::string> inputs;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            inputs.push_back(file.readAll().toStdString());
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString corpus = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 1000;
    std::mt19937 random(20261208);
    std::vector<std::string> seeds = Corpus(corpus);
    for (const std::string& seed : Seeds())
        seeds.push_back(seed);
    for (const std::string& seed : seeds)
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size());
    for (int i = 0; i < rounds; ++i) {
        const std::string input = Mutate(seeds[random() % seeds.size()], random);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    return 0;
}
