# One simulated scanner of each firmware family the acquisition modes know,
# plus the variants the connection tells apart (KOVRAN_USB=sim
# KOVRAN_SIM=data/sim/families.profile). Open the n-th with
# KVXInitializeNum(dir, n); the order below is the enumeration order.

# 0: main family, PID 3, FW 0x5012 (as the built-in default device).
[device]
name = main family
pid = 3
serial = 300001
firmware = 0x5012
location = 1-1
config_word = 0x0A057982
config_word2 = 0x0030
micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00
photo_tuning = 80 80 80 80 40 40 40 40
hardware_key = 4B 56 58 2D 53 49 4D 00
page_counter = 1500
inkjet_counter = 20
documents = 5

# 1: PID 11: codeline on the rear, MICR head flag 1 (head width 1296).
[device]
name = pid 11
pid = 11
serial = 110001
firmware = 0x5010
location = 1-2
config_word = 0x00005102
micr_block = 28 49 90 01 3C 0A 05 00 00 00 1E 00 00 00 00 00
sensor_options = 0x01
documents = 2

# 2: PID 14 with backlight images.
[device]
name = pid 14 backlight
pid = 14
serial = 140001
firmware = 0x5012
location = 1-3
config_word = 0x00025102
config_word2 = 0x0020
sensor_options = 0x10
documents = 2

# 3: inkjet cartridge of type 1 (64-byte block 0xD0/0x51).
[device]
name = inkjet type 1
pid = 4
serial = 400001
firmware = 0x4012
location = 1-4
config_word = 0x00000302
inkjet1_config = 01 02 03 04
inkjet_counter = 77

# 4: inkjet cartridge of type 2 (64-byte block 0xD0/0x55).
[device]
name = inkjet type 2
pid = 8
serial = 800001
firmware = 0x5012
location = 1-5
config_word = 0x00000502
inkjet2_config = 05 06 07 08

# 5: full speed: the MICR head is switched off, the image block is 64.
[device]
name = full speed
pid = 9
serial = 900001
firmware = 0x3107
speed = full
location = 1-6
config_word = 0x00001102
micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00

# 6: FW 0x2206 (0x2205 to 0x2207), feeder, no counter register.
[device]
name = fw 2206
pid = 9
serial = 220601
firmware = 0x2206
location = 1-7
config_word = 0x00000002
cis_voltage = 5
page_counter_register = no
inkjet_counter_register = no

# 7: FW 0x2203 (0x2201 to 0x2204).
[device]
name = fw 2203
pid = 5
serial = 220301
firmware = 0x2203
location = 1-8
config_word = 0x00000002
cis_voltage = 5

# 8: FW 0x2110 (0x2104 to 0x21FF).
[device]
name = fw 2110
pid = 4
serial = 211001
firmware = 0x2110
location = 1-9
config_word = 0x00000002
cis_voltage = 5

# 9: FW 0x2103.
[device]
name = fw 2103
pid = 8
serial = 210301
firmware = 0x2103
location = 1-10
config_word = 0x00000002
cis_voltage = 12

# 10: FW 0x2009 (0x2008 and 0x2009): two configuration bytes.
[device]
name = fw 2009
pid = 3
serial = 200901
firmware = 0x2009
location = 1-11
config_word = 0x00000002

# 11: FW 0x1005: the old request form, the first guess of the open.
[device]
name = fw 1005
pid = 3
serial = 100501
firmware = 0x1005
location = 1-12
config_word = 0x00000002

# 12: FW 0x1007: register form, and it still answers the old-form version
# read.
[device]
name = fw 1007 old form
pid = 5
serial = 100701
firmware = 0x1007
location = 1-13
old_request_form = yes
config_word = 0x00000082
