[device]
location = 1-2
serial = A
[device]
serial = B
