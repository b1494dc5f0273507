# The scanner of scripts/demo (KOVRAN_USB=sim KOVRAN_SIM=data/sim/demo.profile):
# a desk scanner with a document feeder, loaded with the small corpus that
# scripts/make-corpus writes into build/demo/corpus (cheques with E13B and
# CMC7 codelines, payment forms, symbol sheets). The corpus path is taken
# from the working directory: run from the repository root, as the demo does.
[device]
name = demo desk scanner
vid = 0x7E51
pid = 3
serial = 000042
firmware = 0x5012
speed = high
# As the built-in default scanner: rear camera, feeder, MICR head, double
# feed sensor, buzzer (data/sim/example.profile explains the keys).
config_word = 0x0A057982
config_word2 = 0x0030
cis_voltage = 12
device_config = 0C 00 00 00 00 00 00 00
micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00
external_power = yes
documents = corpus:build/demo/corpus
stream = free
