# other vendor, CR LF lines
[device]
vid = 0x1234
pid = 0x0001
serial = été-42
firmware = 0x3101
inkjet1_config = 01 02 03
inkjet2_config = FF
config_block = 01 82
fault = unplug call 3
fault = wrong_length 1 4
fault = corrupt_reply forever 0 0x80

[device]
location = 2-1.4
plugged = no
fault = replug 1
