// Enumerations the online recognition settings are expressed in: network
// type, recognition property (domain) and service protocol number.
//
// Threading: plain constants; usable from any thread.
#ifndef VXS_DECODER_RECOGNITION_ENUMS_H
#define VXS_DECODER_RECOGNITION_ENUMS_H

namespace vxs {

enum TVXVoiceRecognitionNetworkType {
    EVR_NETWORK_TYPE_NO = 0,
    EVR_NETWORK_TYPE_2G = 1,
    EVR_NETWORK_TYPE_3G = 2,
    EVR_NETWORK_TYPE_4G = 3,
    EVR_NETWORK_TYPE_WIFI = 4,
};

enum TVXVoiceRecognitionProperty {
    EVoiceRecognitionPropertyMusic = 10001,
    EVoiceRecognitionPropertyVideo = 10002,
    EVoiceRecognitionPropertyApp = 10003,
    EVoiceRecognitionPropertyWeb = 10004,
    EVoiceRecognitionPropertySearch = 10005,
    EVoiceRecognitionPropertyEShopping = 10006,
    EVoiceRecognitionPropertyHealth = 10007,
    EVoiceRecognitionPropertyCall = 10008,
    EVoiceRecognitionPropertySong = 10009,
    EVoiceRecognitionPropertyShake = 10010,
    EVoiceRecognitionPropertyMedicalCare = 10052,
    EVoiceRecognitionPropertyCar = 10053,
    EVoiceRecognitionPropertyCatering = 10054,
    EVoiceRecognitionPropertyFinanceAndEconomics = 10055,
    EVoiceRecognitionPropertyGame = 10056,
    EVoiceRecognitionPropertyCookbook = 10057,
    EVoiceRecognitionPropertyAssistant = 10058,
    EVoiceRecognitionPropertyRecharge = 10059,
    EVoiceRecognitionPropertyMap = 10060,
    EVoiceRecognitionPropertyInput = 20000,
    EVoiceRecognitionPropertyContacts = 100014,
    EVoiceRecognitionPropertySetting = 100016,
    EVoiceRecognitionPropertyTVInstruction = 100018,
    EVoiceRecognitionPropertyPlayerInstruction = 100019,
    EVoiceRecognitionPropertyRadio = 100020,
};

enum TVXVoiceRecognitionProtocol {
    EPROTOCOL_DEFAULT = 0,
    EPROTOCOL_SEARCH_NBEST = 1,
    EPROTOCOL_INPUT_NBEST_PROTOCOL = 2,
    EPROTOCOL_POST_PROTOCOL = 101,
    EPROTOCOL_KELP_PROTOCOL = 300,
    EPROTOCOL_KELP_TEXT_PROTOCOL = 301,
    EPROTOCOL_AUDIO_DA_PROTOCOL = 302,
    EPROTOCOL_NLU_PROTOCOL = 303,
    EPROTOCOL_NLU_TEXT_PROTOCOL = 304,
    EPROTOCOL_KELP_NLU_PROTOCOL = 305,
    EPROTOCOL_TALK_PROTOCOL = 306,
    EPROTOCOL_SEARCH_MUSIC_PROTOCOL = 1000,
};

}  // namespace vxs

#endif  // VXS_DECODER_RECOGNITION_ENUMS_H
