<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>HttpServer</name>
    <message>
        <source>%1 address &quot;%2&quot; is not host:port (say 127.0.0.1:%3) - not served</source>
        <translation>%1 address &quot;%2&quot; is not host:port (say 127.0.0.1:%3) - not served</translation>
    </message>
    <message>
        <source>%1 host &quot;%2&quot; cannot be resolved: %3 - not served</source>
        <translation>%1 host &quot;%2&quot; cannot be resolved: %3 - not served</translation>
    </message>
    <message>
        <source>the certificate or its key was refused</source>
        <translation>the certificate or its key was refused</translation>
    </message>
    <message>
        <source>the HTTP server did not start</source>
        <translation>the HTTP server did not start</translation>
    </message>
    <message>
        <source>Cannot serve %1 on %2 port %3: %4</source>
        <translation>Cannot serve %1 on %2 port %3: %4</translation>
    </message>
</context>
<context>
    <name>UdpEndpoint</name>
    <message>
        <source>Cannot open a UDP port: %1</source>
        <translation>Cannot open a UDP port: %1</translation>
    </message>
    <message>
        <source>Board address &quot;%1&quot; cannot be resolved: %2 - nothing sent</source>
        <translation>Board address &quot;%1&quot; cannot be resolved: %2 - nothing sent</translation>
    </message>
    <message>
        <source>No board address is set - nothing sent</source>
        <translation>No board address is set - nothing sent</translation>
    </message>
    <message>
        <source>Board port &quot;%1&quot; is not a number from 1 to 65535 - nothing sent</source>
        <translation>Board port &quot;%1&quot; is not a number from 1 to 65535 - nothing sent</translation>
    </message>
    <message>
        <source>Cannot send to the board at %1 port %2: %3</source>
        <translation>Cannot send to the board at %1 port %2: %3</translation>
    </message>
</context>
</TS>
