// Writes the seed corpus of every fuzz target into <folder>/<target>/: a
// handful of valid and near-valid inputs each, the scrambled ones made with
// the product's own scramble. The output is committed; rerun it only when
// the seeds change.
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "ConfigFiles.h"
#include "ScrambleBytes.h"

using namespace NetDevice;

namespace
{

struct CSeed
{
    const char* name;
    std::string bytes;
};

const char HUE[] = R"({"Bridges":[{"Id":"001788fffe2a","Name":"Hue Bridge","IpAddress":"192.168.1.20",)"
                   R"("SelectedGroup":"3","Groups":{"1":{"Id":"1","Lights":["1","2"]},)"
                   R"("2":{"Id":"3","Lights":["4","5","6"]}}}]})";
const char IOT[] = R"([{"pid":1281,"eid":2,"handle":1099511627776,"device_name":"Desk Lamp",)"
                   R"("mac_address":"00:11:22:33:44:55","ip_address":"192.168.1.30","serial_number":"SN-1"},)"
                   R"({"pid":1282,"eid":3,"handle":7,"device_name":"Strip","mac_address":"66:77:88:99:AA:BB",)"
                   R"("ip_address":"192.168.1.31","serial_number":"SN-2"}])";

bool Write(const std::string& folder, const std::vector<CSeed>& seeds)
{
    ::mkdir(folder.c_str(), 0755);
    for (const CSeed& seed : seeds)
    {
        const std::string path = folder + "/" + seed.name;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file)
            return false;
        const bool written = std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), file) == seed.bytes.size();
        if (std::fclose(file) != 0 || !written)
            return false;
    }
    return true;
}

// The first byte of a FuzzScrambledFile input: bit 0 the IoT key, bit 1 the
// length-prefixed form.
std::string Scrambled(char form, const std::string& file)
{
    return std::string(1, form) + file;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: MakeFuzzSeeds <corpus folder>\n");
        return 2;
    }
    const std::string root = argv[1];
    ::mkdir(root.c_str(), 0755);
    const std::string iotBody = MakeScrambledFile(IOT, IOT_CONFIG_KEY);
    const bool ok =
        Write(root + "/ScrambledFile",
              {
                  {"hue-whole", Scrambled(0, MakeScrambledFile(HUE, SMARTLIGHTING_CONFIG_KEY))},
                  {"iot-prefixed", Scrambled(3, MakeLengthPrefixedScrambledFile(IOT, IOT_CONFIG_KEY))},
                  {"iot-trailing", Scrambled(3, MakeLengthPrefixedScrambledFile("[]", IOT_CONFIG_KEY) + "tail")},
                  {"iot-negative", Scrambled(3, EncodeLengthField(-1) + iotBody)},
                  {"iot-beyond", Scrambled(3, EncodeLengthField(static_cast<int32_t>(iotBody.size() + 1)) + iotBody)},
                  {"iot-short-field", Scrambled(3, std::string("\x05\x00", 2))},
                  {"hue-prefixed", Scrambled(2, MakeLengthPrefixedScrambledFile(HUE, SMARTLIGHTING_CONFIG_KEY))},
              }) &&
        Write(root + "/DataPipeMessage",
              {
                  {"lighting", R"({"eventId":2,"linkDeviceSeqId":1,"zone":"keys","seq":7,"ts":1700000000})"},
                  {"other-event", R"({"eventId":5,"payload":{"keys":[1,2,3]}})"},
                  {"float-seq", R"({"eventId":2,"linkDeviceSeqId":-1.5e300})"},
                  {"string-seq", R"({"eventId":2,"linkDeviceSeqId":"7"})"},
                  {"no-event", R"({"linkDeviceSeqId":0,"note":"no eventId"})"},
                  {"zero-inside", std::string(R"({"eventId":1})" "\0" R"(garbage)", 21)},
                  {"array", R"([{"eventId":2}])"},
              }) &&
        Write(root + "/IoTDeviceList",
              {
                  {"two-lights", IOT},
                  {"null", "null"},
                  {"empty", "[]"},
                  {"null-ends", R"([{"pid":1},null,{"pid":2}])"},
                  {"odd-members", "[{\"pid\":1.5,\"eid\":true,\"handle\":-1,\"device_name\":7},\n\t\"x\",[]]"},
                  {"object-root", R"({"a":[]})"},
              }) &&
        Write(root + "/HueBridgeConfig",
              {
                  {"bridge", HUE},
                  {"group-array", R"({"Bridges":[{"Id":"a","Name":"b","IpAddress":"c","SelectedGroup":"G",)"
                                  R"("Groups":[{"Id":"g","Lights":7},{"Id":"G","Lights":{"1":1}}]}]})"},
                  {"no-groups", R"({"Bridges":[{"Id":"","Name":"","IpAddress":"","SelectedGroup":""}]})"},
                  {"bad-group", R"({"Bridges":[{"Id":"a","Name":"b","IpAddress":"c","SelectedGroup":"1",)"
                                R"("Groups":{"1":{"Id":1}}}]})"},
                  {"no-bridge", R"({"Bridges":[]})"},
              }) &&
        Write(root + "/ProxyRequest",
              {
                  {"add-hid", R"({"func":"AddDevice","param":{"pid":1234,"containerId":"{5A1E}"}})"},
                  {"add-hue", R"({"func":"AddDevice","param":{"pid":769,"id":3}})"},
                  {"add-broadcast", R"({"func":"AddDevice","param":{"pid":770,"index":null}})"},
                  {"state", R"({"func":"SetDeviceState","param":{"enable":0,"device_handle":-2147483647}})"},
                  {"action-forward", R"({"Action":5,"message":"{\"func\":\"SetDeviceState\",\"param\":{\"enable\":1}}"})"},
                  {"action-remove", R"({"Action":4,"device_handle":17,"pid":"x"})"},
                  {"not-object", R"([1,{"func":2}])"},
                  // Once a float-to-int overflow in the request's integer reads.
                  {"enable-beyond-int", R"({"fufc":"SetDeviceState","param":{"enable":88888888888888888888073741823}})"},
              });
    if (!ok)
    {
        std::perror("MakeFuzzSeeds");
        return 1;
    }
    return 0;
}
