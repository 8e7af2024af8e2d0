#!/usr/bin/env python3
"""Writes a deterministic list of real-looking contact entries for the pronmerge benchmark:
people (first name and surname, some with a middle initial, a hyphenated surname or a title),
companies, a few entries with digits, and a few web and mail addresses, which pronmerge skips.

    python3 bench/pronmerge/make_names.py [COUNT] > contacts.lst      (COUNT defaults to 5000)

The name lists below are our own; the output depends only on COUNT.
"""
import random
import sys

FIRST = """James John Robert Michael William David Richard Joseph Thomas Charles Christopher Daniel
Matthew Anthony Mark Donald Steven Paul Andrew Joshua Kenneth Kevin Brian George Timothy Ronald
Edward Jason Jeffrey Ryan Jacob Gary Nicholas Eric Jonathan Stephen Larry Justin Scott Brandon
Benjamin Samuel Gregory Alexander Frank Patrick Raymond Jack Dennis Jerry Tyler Aaron Jose Adam
Nathan Henry Douglas Zachary Peter Kyle Walter Ethan Jeremy Harold Keith Christian Roger Noah
Gerald Carl Terry Sean Austin Arthur Lawrence Jesse Dylan Bryan Joe Jordan Billy Bruce Albert
Willie Gabriel Logan Alan Juan Wayne Roy Ralph Randy Eugene Vincent Russell Elijah Louis Bobby
Philip Johnny Mary Patricia Jennifer Linda Elizabeth Barbara Susan Jessica Sarah Karen Nancy Lisa
Betty Margaret Sandra Ashley Kimberly Emily Donna Michelle Dorothy Carol Amanda Melissa Deborah
Stephanie Rebecca Sharon Laura Cynthia Kathleen Amy Shirley Angela Helen Anna Brenda Pamela Nicole
Emma Samantha Katherine Christine Debra Rachel Catherine Carolyn Janet Ruth Maria Heather Diane
Virginia Julie Joyce Victoria Olivia Kelly Christina Lauren Joan Evelyn Judith Megan Cheryl Andrea
Hannah Martha Jacqueline Frances Gloria Ann Teresa Kathryn Sara Janice Jean Alice Madison Doris
Abigail Julia Judy Grace Denise Amber Marilyn Beverly Danielle Theresa Sophia Marie Diana Brittany
Natalie Isabella Charlotte Rose Alexis Kayla Siobhan Niamh Aoife Saoirse Tadhg Eoin Ruairi Dmitri
Svetlana Yevgeny Anastasia Oksana Bogdan Wojciech Agnieszka Malgorzata Krzysztof Grzegorz Jiri
Zdenek Vaclav Mihai Ioana Bogdana Sandor Zsofia Gyorgy Laszlo Erzsebet Hiroshi Yuki Haruto Sakura
Takeshi Wei Xiaoming Jing Zhiwei Yan Priya Rajesh Anand Sanjay Deepika Lakshmi Venkat Arjun Kwame
Chidi Ngozi Oluwaseun Adebayo Thandiwe Sipho Femi Amara Tariq Yasmin Farhan Leila Omid Reza
Mehmet Ayse Emre Zeynep Giuseppe Giovanna Luca Chiara Francesca Matteo Joaquin Ximena Guadalupe
Alejandro Rodrigo Sebastiao Joao Goncalo Ines Bjorn Sigrid Astrid Soren Henrik Ingrid Pekka Aino
Juha Tuula""".split()

SURNAMES = """Smith Johnson Williams Brown Jones Garcia Miller Davis Rodriguez Martinez Hernandez Lopez
Gonzalez Wilson Anderson Thomas Taylor Moore Jackson Martin Lee Perez Thompson White Harris Sanchez
Clark Ramirez Lewis Robinson Walker Young Allen King Wright Scott Torres Nguyen Hill Flores Green
Adams Nelson Baker Hall Rivera Campbell Mitchell Carter Roberts Gomez Phillips Evans Turner Diaz
Parker Cruz Edwards Collins Reyes Stewart Morris Morales Murphy Cook Rogers Gutierrez Ortiz Morgan
Cooper Peterson Bailey Reed Kelly Howard Ramos Kim Cox Ward Richardson Watson Brooks Chavez Wood
James Bennett Gray Mendoza Ruiz Hughes Price Alvarez Castillo Sanders Patel Myers Long Ross Foster
Jimenez Powell Jenkins Perry Russell Sullivan Bell Coleman Butler Henderson Barnes Gonzales Fisher
Vasquez Simmons Romero Jordan Patterson Alexander Hamilton Graham Reynolds Griffin Wallace Moreno
West Cole Hayes Bryant Herrera Gibson Ellis Tran Medina Aguilar Stevens Murray Ford Castro Marshall
Owens Harrison Fernandez McDonald Woods Washington Kennedy Wells Vargas Henry Chen Freeman Webb
Tucker Guzman Burns Crawford Olson Simpson Porter Hunter Gordon Mendez Silva Shaw Snyder Mason
Dixon Munoz Hunt Hicks Holmes Palmer Wagner Black Robertson Boyd Rose Stone Salazar Fox Warren
Mills Meyer Rice Schmidt Garza Daniels Ferguson Nichols Stephens Soto Weaver Ryan Gardner Payne
Grant Dunn Kelley Spencer Hawkins Arnold Pierce Vazquez Hansen Peters Santos Hart Bradley Knight
Elliott Cunningham Duncan Armstrong Hudson Carroll Lane Riley Andrews Alvarado Ray Delgado Berry
Perkins Hoffman Johnston Matthews Pena Richards Contreras Willis Carpenter Lawrence Sandoval
O'Brien O'Connor O'Sullivan McCarthy MacLeod McAllister FitzGerald DeLuca VanDyke LaRue D'Angelo
Kowalczyk Wisniewski Wojcik Kaminski Lewandowski Zielinski Szymanski Dabrowski Nowakowski Jankowski
Novotny Dvorak Prochazka Kucera Horvath Nagy Kovacs Szabo Toth Varga Popescu Ionescu Constantin
Yamamoto Nakamura Kobayashi Watanabe Takahashi Suzuki Tanaka Saito Zhang Wang Liu Huang Zhao
Srinivasan Krishnamurthy Venkataraman Raghunathan Chattopadhyay Bhattacharya Subramanian Iyer
Okonkwo Adeyemi Oyelaran Mbeki Nkemelu Achebe Abubakar Haddad Nasser Khoury Farouk Yilmaz Ozturk
Kaya Demir Sahin Celik Rossi Russo Ferrari Esposito Bianchi Romano Colombo Ricci Marino Greco
Bruno Gallo Conti Mancini Costa Giordano Rizzo Lombardi Moretti Ferreira Oliveira Pereira
Carvalho Goncalves Rodrigues Almeida Nilsson Johansson Lindqvist Bergstrom Karlsson Virtanen
Korhonen Makinen Nieminen Hamalainen Laine Heikkinen Koskinen Jarvinen Schneider Fischer Weber
Becker Schulz Koch Richter Klein Wolf Schroder Neumann Schwarz Zimmermann Braun Kruger Hofmann
Hartmann Lange Werner Krause Lehmann Kohler Maier Huber Bauer Gruber Pichler Moser""".split()

COMPANY_WORDS = """Acme Global Pacific Atlantic Northern Summit Pioneer Liberty Keystone Evergreen
Silverline Bluewater Redwood Granite Horizon Meridian Apex Vertex Zenith Quantum Nimbus Stellar
Cascade Harbor Riverside Lakeside Mountain Valley Prairie Coastal Metro Urban Capital Premier
Allied United National American Continental Federal General Standard Royal Crown Eagle Falcon
Phoenix Titan Orion Nova Vortex Synergy Innovex Datacore Netwise Cloudbase Softlink Infotech
Medix Biogen Pharmacor Agrifresh Fintrust Westbrook Eastgate Southport Northfield Kingsley
Ashford Brightwater Clearview Deepwell Fairhaven Goldcrest Highpoint Ironwood Juniper Kensington""".split()

COMPANY_KINDS = """Systems Solutions Technologies Consulting Partners Associates Holdings Industries
Enterprises Group Services Labs Logistics Networks Software Media Capital Ventures Properties
Realty Insurance Bank Foods Motors Energy Health Dental Clinic Pharmacy Bakery Cafe Restaurant
Hardware Electric Plumbing Roofing Landscaping Printing Travel Cleaners Auto Tire Florist""".split()

SUFFIXES = ["Inc.", "LLC", "Ltd.", "Corp.", "& Co.", "and Sons", "GmbH", "PLC", ""]
TITLES = ["Dr.", "Mr.", "Mrs.", "Ms.", "Prof."]
DOMAINS = ["example.com", "mail.example.org", "corp.example.net", "example.co.uk"]


def person(rng):
    first = rng.choice(FIRST)
    last = rng.choice(SURNAMES)
    r = rng.random()
    if r < 0.08:
        last = last + "-" + rng.choice(SURNAMES)
    elif r < 0.20:
        first = first + " " + rng.choice("ABCDEFGHJKLMNPRSTW") + "."
    elif r < 0.25:
        first = rng.choice(TITLES) + " " + first
    if rng.random() < 0.15:
        return last + ", " + first
    return first + " " + last


def company(rng):
    name = rng.choice(COMPANY_WORDS)
    if rng.random() < 0.3:
        name += " " + rng.choice(COMPANY_WORDS)
    name += " " + rng.choice(COMPANY_KINDS)
    suffix = rng.choice(SUFFIXES)
    return (name + " " + suffix).strip()


def address(rng):
    r = rng.random()
    word = rng.choice(COMPANY_WORDS).lower()
    if r < 0.4:
        return "http://www.%s.%s/" % (word, rng.choice(["com", "net", "org"]))
    if r < 0.6:
        return "www.%s-%s.com" % (word, rng.choice(COMPANY_KINDS).lower())
    return "%s.%s@%s" % (rng.choice(FIRST).lower(), rng.choice(SURNAMES).lower().replace("'", ""),
                         rng.choice(DOMAINS))


def numbered(rng):
    return "%s %d%s" % (rng.choice(COMPANY_WORDS), rng.randint(1, 2999), rng.choice(["", " Store", " Branch"]))


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 5000
    rng = random.Random(20261209)
    out = []
    for _ in range(count):
        r = rng.random()
        if r < 0.70:
            out.append(person(rng))
        elif r < 0.88:
            out.append(company(rng))
        elif r < 0.95:
            out.append(address(rng))
        else:
            out.append(numbered(rng))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
